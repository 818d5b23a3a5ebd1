#include "controlinput.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

ControlInput::ControlInput(QObject *parent)
    : QObject(parent)
{
    if (::fcntl(STDIN_FILENO, F_GETFD) == -1)
        return;
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ControlInput::readAvailable);
}

void ControlInput::readAvailable()
{
    char chunk[4096];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        m_notifier->setEnabled(false);
        emit endOfInput();
        return;
    }
    m_buffer.append(chunk, int(count));
    for (int end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
        const QString line = QString::fromUtf8(m_buffer.left(end)).trimmed();
        m_buffer.remove(0, end + 1);
        if (line.isEmpty())
            continue;
        const int space = line.indexOf(QLatin1Char(' '));
        emit commandReceived(space < 0 ? line : line.left(space),
                             space < 0 ? QString() : line.mid(space + 1).trimmed());
    }
}

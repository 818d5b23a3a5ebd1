#include "passwordbook.h"

#include "ipv4text.h"

#include <QFile>

#include <sys/stat.h>

QString PasswordBook::defaultPassword()
{
    return QStringLiteral("plorvask");
}

void PasswordBook::takeEnvironment()
{
    if (m_hasForAll || !qEnvironmentVariableIsSet("ZUDIRUV_PASSWORD"))
        return;
    m_forAll = qEnvironmentVariable("ZUDIRUV_PASSWORD");
    m_hasForAll = true;
}

bool PasswordBook::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read password file \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    // As ssh does for keys: a file others can read has leaked already, one
    // they can write hands them the devices.
    struct stat status {};
    if (::fstat(file.handle(), &status) != 0 || (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        m_error = QStringLiteral("password file \"%1\" is accessible by group or others; "
                                 "refusing it (chmod 600 \"%1\")").arg(path);
        return false;
    }
    int lineNumber = 0;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        ++lineNumber;
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        // The password is the rest of the line after the blanks that follow
        // the address, as it stands: it may hold blanks itself.
        int at = 0;
        while (at < line.size() && line.at(at).isSpace())
            ++at;
        const int addressStart = at;
        while (at < line.size() && !line.at(at).isSpace())
            ++at;
        const QString address = line.mid(addressStart, at - addressStart);
        while (at < line.size() && line.at(at).isSpace())
            ++at;
        const QString password = line.mid(at);
        const std::optional<quint32> parsed = parseIpv4(address);
        if (password.isEmpty() || (address != QLatin1String("*") && !parsed)) {
            m_error = QStringLiteral("password file \"%1\", line %2: expected \"ADDRESS PASSWORD\" or \"* PASSWORD\"")
                          .arg(path).arg(lineNumber);
            return false;
        }
        if (parsed) {
            m_byAddress.insert(*parsed, password);
        } else {
            m_forAll = password;
            m_hasForAll = true;
        }
    }
    return true;
}

QString PasswordBook::passwordFor(quint32 address) const
{
    const auto found = m_byAddress.constFind(address);
    if (found != m_byAddress.constEnd())
        return *found;
    return m_hasForAll ? m_forAll : defaultPassword();
}

PasswordBook::Source PasswordBook::sourceFor(quint32 address) const
{
    return m_byAddress.contains(address) || m_hasForAll ? Source::Given : Source::Default;
}

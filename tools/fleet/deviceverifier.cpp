#include "deviceverifier.h"

#include "deviceconversation.h"

#include <QTimer>

namespace {

// A device takes a moment to leave its boot loader and reboot; asking at
// once could still catch the old firmware's web server.
constexpr int pauseBetweenAttemptsMs = 2000;

} // namespace

DeviceVerifier::DeviceVerifier(ProbeEngine *engine, quint32 address, const QString &password,
                               const QString &letter, int seconds, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_address(address)
    , m_password(password)
    , m_letter(letter)
    , m_seconds(seconds)
{
}

DeviceVerifier::~DeviceVerifier() = default;

void DeviceVerifier::start()
{
    m_clock.start();
    QTimer::singleShot(pauseBetweenAttemptsMs, this, &DeviceVerifier::attempt);
}

void DeviceVerifier::attempt()
{
    m_conversation = std::make_unique<DeviceConversation>(m_engine, m_address, DeviceConversation::probeWindowMs);
    DeviceConversation *conversation = m_conversation.get();
    connect(conversation, &DeviceConversation::indexChecked, this, [this, conversation](int, bool velquor) {
        if (velquor)
            conversation->probe(m_password);
        else
            retryOrGiveUp();
    });
    connect(conversation, &DeviceConversation::probed, this, [this](const DeviceFinding &finding) {
        const bool refused = finding.state == DeviceFinding::State::WantsPassword;
        if (finding.velquor && !refused && finding.letter == m_letter) {
            m_answer = finding;
            emit done(QString());
            return;
        }
        if (finding.velquor)
            m_lastSeen = refused ? QStringLiteral("refusing the password") : finding.deviceText;
        retryOrGiveUp();
    });
    conversation->checkIndex();
}

void DeviceVerifier::retryOrGiveUp()
{
    // Not from inside the conversation's own signal.
    QTimer::singleShot(0, this, [this] {
        m_conversation.reset();
        const qint64 left = qint64(m_seconds) * 1000 - m_clock.elapsed();
        if (left < pauseBetweenAttemptsMs + DeviceConversation::probeWindowMs) {
            emit done(m_lastSeen.isEmpty()
                          ? QStringLiteral("did not answer again within %1 s").arg(m_seconds)
                          : QStringLiteral("answered as %1, not with its kind, within %2 s").arg(m_lastSeen).arg(m_seconds));
            return;
        }
        QTimer::singleShot(pauseBetweenAttemptsMs, this, &DeviceVerifier::attempt);
    });
}

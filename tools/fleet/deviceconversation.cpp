#include "deviceconversation.h"

#include "ipv4text.h"
#include "probeengine.h"

#include <QJSValue>

DeviceConversation::DeviceConversation(ProbeEngine *engine, quint32 address, int windowMs, QObject *parent)
    : QObject(parent)
    , m_address(address)
    , m_script(engine->createConversation(formatIpv4(address), windowMs))
{
    if (!m_script)
        return;
    connect(m_script, SIGNAL(indexChecked(int,bool)), this, SLOT(takeIndex(int,bool)));
    connect(m_script, SIGNAL(probed(QVariant)), this, SLOT(takeFinding(QVariant)));
    connect(m_script, SIGNAL(uploaded(int)), this, SLOT(takeUploaded(int)));
}

DeviceConversation::~DeviceConversation()
{
    delete m_script;
}

void DeviceConversation::setAddress(quint32 address)
{
    m_address = address;
    m_script->setProperty("address", formatIpv4(address));
}

void DeviceConversation::checkIndex()
{
    QMetaObject::invokeMethod(m_script, "checkIndex");
}

void DeviceConversation::probe(const QString &password)
{
    QMetaObject::invokeMethod(m_script, "probe", Q_ARG(QVariant, password));
}

void DeviceConversation::upload(const QString &password, const QString &code)
{
    QMetaObject::invokeMethod(m_script, "upload", Q_ARG(QVariant, password), Q_ARG(QVariant, code));
}

void DeviceConversation::takeIndex(int status, bool velquor)
{
    emit indexChecked(status, velquor);
}

void DeviceConversation::takeUploaded(int status)
{
    emit uploaded(status);
}

void DeviceConversation::takeFinding(const QVariant &finding)
{
    QVariant value = finding;
    if (value.userType() == qMetaTypeId<QJSValue>())
        value = value.value<QJSValue>().toVariant();
    emit probed(DeviceFinding::fromProbe(m_address, value.toMap()));
}

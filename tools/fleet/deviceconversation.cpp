#include "deviceconversation.h"

#include "probeengine.h"

#include <QJSValue>

DeviceConversation::DeviceConversation(ProbeEngine *engine, const QString &address, int windowMs, QObject *parent)
    : QObject(parent)
    , m_script(engine->createConversation(address, windowMs))
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

void DeviceConversation::setAddress(const QString &address)
{
    m_script->setProperty("address", address);
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
    const QVariantMap fields = value.toMap();
    Probed result;
    result.initfail = fields.value(QStringLiteral("initfail")).toBool();
    result.unauthorized = fields.value(QStringLiteral("unauthorized")).toBool();
    result.type = fields.value(QStringLiteral("type")).toString();
    result.kindName = fields.value(QStringLiteral("kindName")).toString();
    result.generation = fields.value(QStringLiteral("generation")).toString();
    result.deviceText = fields.value(QStringLiteral("deviceText")).toString();
    result.letter = fields.value(QStringLiteral("letter")).toString();
    result.updateCode = fields.value(QStringLiteral("updateCode")).toString();
    emit probed(result);
}

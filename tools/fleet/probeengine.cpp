#include "probeengine.h"

#include <QUrl>

// From the framework's worker-script library: what its QML module plugin
// calls. The program bundles no QML plugins, so the type is registered here.
void qml_register_types_QtQml_WorkerScript();

namespace {

bool registerWorkerScript()
{
    qml_register_types_QtQml_WorkerScript();
    return true;
}

} // namespace

ProbeEngine::ProbeEngine(QObject *parent)
    : QObject(parent)
    , m_component(&m_engine)
{
    static const bool registered = registerWorkerScript();
    Q_UNUSED(registered)
    m_component.loadUrl(QUrl(QStringLiteral("qrc:/fleet/DeviceProbe.qml")));
}

QObject *ProbeEngine::createConversation(const QString &address, int windowMs)
{
    if (m_component.isError()) {
        m_error = m_component.errorString();
        return nullptr;
    }
    QObject *conversation = m_component.beginCreate(m_engine.rootContext());
    if (!conversation) {
        m_error = m_component.errorString();
        return nullptr;
    }
    conversation->setProperty("address", address);
    conversation->setProperty("windowMs", windowMs);
    m_component.completeCreate();
    QQmlEngine::setObjectOwnership(conversation, QQmlEngine::CppOwnership);
    return conversation;
}

bool ProbeEngine::isReady()
{
    if (m_component.isError())
        m_error = m_component.errorString();
    return m_component.isReady();
}

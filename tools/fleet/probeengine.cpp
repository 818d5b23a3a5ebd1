#include "probeengine.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

// From the framework's worker-script library: what its QML module plugin
// calls.
void qml_register_types_QtQml_WorkerScript();

namespace {

// Some systems install the module's plugin (Debian: its own package, others
// with Qt Declarative); the import then loads it, and registering its types
// here as well would make the import fail. Only where no plugin is found
// does the program register them itself.
bool workerScriptModuleInstalled(const QStringList &importPaths)
{
    for (const QString &path : importPaths) {
        for (const char *folder : {"QtQml/WorkerScript.2", "QtQml/WorkerScript"}) {
            if (QFileInfo::exists(QDir(path).filePath(QLatin1String(folder) + QLatin1String("/qmldir"))))
                return true;
        }
    }
    return false;
}

bool registerWorkerScript(const QStringList &importPaths)
{
    if (!workerScriptModuleInstalled(importPaths))
        qml_register_types_QtQml_WorkerScript();
    return true;
}

} // namespace

ProbeEngine::ProbeEngine(QObject *parent)
    : QObject(parent)
    , m_component(&m_engine)
{
    static const bool registered = registerWorkerScript(m_engine.importPathList());
    Q_UNUSED(registered)
    m_engine.setNetworkAccessManagerFactory(&m_boundedAnswers);
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

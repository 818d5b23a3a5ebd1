#include "app/scenetypes.h"
#include "faketooldir.h"
#include "fixtures/accessibilityreader.h"
#include "fixtures/devicesimulator.h"

#include <QCoreApplication>
#include <QQmlEngine>
#include <QtQml>
#include <QtQuickTest>

// Registers the program's native scene types, plus the fixtures that the
// Qt Quick tests use to set up real child processes and servers.
class QuickTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine *)
    {
        // The file dialog keeps its settings under the program's identity.
        QCoreApplication::setOrganizationName(QStringLiteral("Osterline Devices"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("osterline-devices.com"));
        registerSceneTypes();
        qmlRegisterType<FakeToolDir>("ZudiruvTest", 1, 0, "FakeToolDir");
        qmlRegisterType<DeviceSimulator>("ZudiruvTest", 1, 0, "DeviceSimulator");
        qmlRegisterType<AccessibilityReader>("ZudiruvTest", 1, 0, "AccessibilityReader");
    }
};

QUICK_TEST_MAIN_WITH_SETUP(zudiruv, QuickTestSetup)

#include "quick_main.moc"

// The program's real start-up with an inspector attached: it reports what a
// user would see of the window, then quits. The root scene can be replaced
// through ZUDIRUV_TEST_ROOT_SCENE so a test can feed it a broken document.

#include "app/startup.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

void report(const QString &key, const QString &value)
{
    std::printf("%s=%s\n", qPrintable(key), qPrintable(value));
    std::fflush(stdout);
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

class ShowWatcher : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QWindow *>(watched))
            report(QStringLiteral("shown"), watched->objectName());
        return false;
    }
};

void inspectWindowOnceRunning()
{
    qApp->installEventFilter(new ShowWatcher(qApp));
    QTimer::singleShot(0, [] {
        const QWindowList windows = QGuiApplication::topLevelWindows();
        report(QStringLiteral("windows"), QString::number(windows.size()));
        report(QStringLiteral("applicationName"), QCoreApplication::applicationName());
        report(QStringLiteral("organizationName"), QCoreApplication::organizationName());
        if (windows.isEmpty()) {
            QCoreApplication::exit(3);
            return;
        }
        QWindow *window = windows.first();
        report(QStringLiteral("title"), window->title());
        report(QStringLiteral("minimumSize"), sizeText(window->minimumSize()));
        report(QStringLiteral("maximumSize"), sizeText(window->maximumSize()));
        // What the program asked for; the offscreen platform grants no real context.
        const QSurfaceFormat format = window->requestedFormat();
        report(QStringLiteral("profile"), QString::number(int(format.profile())));
        report(QStringLiteral("version"),
               QStringLiteral("%1.%2").arg(format.majorVersion()).arg(format.minorVersion()));
        QCoreApplication::quit();
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(inspectWindowOnceRunning)

int main(int argc, char *argv[])
{
    const QString root = qEnvironmentVariable("ZUDIRUV_TEST_ROOT_SCENE",
                                              QStringLiteral("qrc:///main.qml"));
    return runApplication(argc, argv, QUrl(root));
}

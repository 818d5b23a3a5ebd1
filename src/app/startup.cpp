#include "app/startup.h"

#include "app/scenetypes.h"
#include "device/boundedanswers.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLockFile>
#include <QQmlApplicationEngine>
#include <QQmlEngine>
#include <QQmlFileSelector>
#include <QQuickView>
#include <QSurfaceFormat>
#include <QSysInfo>

#include <cstdio>

namespace {

// "my.flash.tool.exe" is known as "my".
QString applicationBaseName()
{
    const QString fileName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return fileName.section(QLatin1Char('.'), 0, 0);
}

int requestedCoreProfile()
{
    bool ok = false;
    const int value = qEnvironmentVariable("QT_QUICK_CORE_PROFILE").toInt(&ok, 10);
    return ok ? value : 0;
}

// Tells the user, in a small window and on standard error, that another
// window works in this folder, and waits until the notice is closed.
int refuseSecondWindow(QGuiApplication &app, const QString &folder)
{
    std::fprintf(stderr, "zudiruv: ZUDiruv is already running in %s; use that window, "
                         "or start ZUDiruv in another folder.\n",
                 QDir::toNativeSeparators(folder).toLocal8Bit().constData());
    QQmlApplicationEngine notice;
    notice.setInitialProperties({{QStringLiteral("folder"), QDir::toNativeSeparators(folder)}});
    notice.load(QUrl(QStringLiteral("qrc:///AlreadyRunning.qml")));
    if (!notice.rootObjects().isEmpty())
        app.exec();
    return 1;
}

// The host name as the lock file records it: Qt writes COMPUTERNAME on
// Windows, which differs in case from the network host name.
QString lockFileHostName()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("COMPUTERNAME");
#else
    return QSysInfo::machineHostName();
#endif
}

// A lock that names this very process cannot be ours yet: it was left by a
// run that ended without removing it, and its process number has come round
// again (Wine after a restart, and PID namespaces, hand out the same low
// numbers first). The lock file's own stale check sees a live process of the
// same name there, so it is taken over here.
bool takeOverLockNamingThisProcess(QLockFile &lock)
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application) || pid != QCoreApplication::applicationPid()
        || host != lockFileHostName())
        return false;
    return lock.removeStaleLockFile() && lock.tryLock(0);
}

} // namespace

int runApplication(int &argc, char **argv, const QUrl &rootScene)
{
    // Both are read when the application object is made. Whole factors only:
    // images and the rows' 1 px lines then land on whole device pixels. 1.5
    // goes down to 1 because the typical 1.5 screen has 1080 lines, which a
    // 1100 px window would not fit; 192 dpi gives exactly 2, and the images
    // come from their @2x files there.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::RoundPreferFloor);

    QGuiApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Osterline Devices"));
    app.setOrganizationDomain(QStringLiteral("osterline-devices.com"));
    app.setApplicationName(applicationBaseName());

    // One window per working folder: windows in one folder would share the
    // staged image. Taken before anything can be staged; the lock of a run
    // that crashed names a process that is gone and is taken over.
    const QString folder = QDir::currentPath();
    QLockFile windowLock(QDir(folder).filePath(QStringLiteral("zudiruv.lock")));
    windowLock.setStaleLockTime(0);
    if (!windowLock.tryLock(0) && !takeOverLockNamingThisProcess(windowLock)) {
        if (windowLock.error() == QLockFile::LockFailedError)
            return refuseSecondWindow(app, folder);
        std::fprintf(stderr, "zudiruv: cannot create zudiruv.lock in %s; a second window in this "
                             "folder would not be noticed\n",
                     QDir::toNativeSeparators(folder).toLocal8Bit().constData());
    }

    // The bundle has no ":/zudiruv.ico" on purpose: on Windows a window without
    // an icon of its own shows the executable's icon group.
    const QIcon appIcon(QStringLiteral(":/zudiruv.ico"));
    QGuiApplication::setWindowIcon(appIcon);

    registerSceneTypes();

    // Declared first: the engine uses it until the view is gone.
    BoundedAnswersFactory boundedAnswers;
    QQuickView view;
    view.setMaximumHeight(550);
    view.setMaximumWidth(320);
    view.setMinimumHeight(550);
    view.setMinimumWidth(320);

    if (requestedCoreProfile() != 0) {
        QSurfaceFormat format = view.format();
        format.setProfile(QSurfaceFormat::CoreProfile);
        format.setVersion(4, 4);
        view.setFormat(format);
    }

    view.engine()->setNetworkAccessManagerFactory(&boundedAnswers);
    QObject::connect(view.engine(), &QQmlEngine::quit, &app, &QGuiApplication::quit);
    new QQmlFileSelector(view.engine(), &view);

    view.setSource(rootScene);
    if (view.status() == QQuickView::Error)
        return -1;

    view.setIcon(QGuiApplication::windowIcon());
    view.setTitle(QStringLiteral("ZUDiruv v1.0"));
    view.show();
    return app.exec();
}

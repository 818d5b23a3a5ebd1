#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Starts the real start-up code (and the shipped program) as child processes,
// headless, and checks what they report of their window.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void opensTheFixedSizeTitledWindow();
    void takesTheApplicationNameFromTheExecutable();
    void switchesToCoreProfileOnRequest_data();
    void switchesToCoreProfileOnRequest();
    void brokenRootSceneExitsWithMinusOneBeforeAnyWindow();
    void shippedProgramStartsWithoutTheExternalTools();
    void oneWindowPerWorkingFolder();
    void takesOverALockNamingItsOwnProcessNumber();

private:
    struct Run
    {
        int exitCode = -100;
        QMap<QString, QString> report;
        QStringList shown;
        QString errors;
    };
    Run runProbe(const QString &program, const QProcessEnvironment &environment,
                 const QString &folder = QString());
    Run runProbe(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        return runProbe(binDir() + QStringLiteral("/startup_probe"), environment);
    }
    static QString binDir() { return qEnvironmentVariable("ZUDIRUV_BIN_DIR"); }
};

TestStartup::Run TestStartup::runProbe(const QString &program, const QProcessEnvironment &environment,
                                       const QString &folder)
{
    QTemporaryDir workDir;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder.isEmpty() ? workDir.path() : folder);
    process.start(program, {QStringLiteral("-platform"), QStringLiteral("offscreen")});
    Run run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = line.left(equals);
        if (key == QLatin1String("shown"))
            run.shown << line.mid(equals + 1);
        else
            run.report.insert(key, line.mid(equals + 1));
    }
    return run;
}

void TestStartup::opensTheFixedSizeTitledWindow()
{
    const Run run = runProbe();
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.shown.size(), 1);
    QCOMPARE(run.report.value(QStringLiteral("windows")), QStringLiteral("1"));
    QCOMPARE(run.report.value(QStringLiteral("title")), QStringLiteral("ZUDiruv v1.0"));
    QCOMPARE(run.report.value(QStringLiteral("minimumSize")), QStringLiteral("320x550"));
    QCOMPARE(run.report.value(QStringLiteral("maximumSize")), QStringLiteral("320x550"));
    QCOMPARE(run.report.value(QStringLiteral("organizationName")), QStringLiteral("Osterline Devices"));
}

void TestStartup::takesTheApplicationNameFromTheExecutable()
{
    QCOMPARE(runProbe().report.value(QStringLiteral("applicationName")), QStringLiteral("startup_probe"));

    QTemporaryDir dir;
    const QString renamed = dir.filePath(QStringLiteral("my.flash.tool.exe"));
    QVERIFY(QFile::copy(binDir() + QStringLiteral("/startup_probe"), renamed));
    QVERIFY(QFile::setPermissions(renamed, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const Run run = runProbe(renamed, QProcessEnvironment::systemEnvironment());
    QCOMPARE(run.report.value(QStringLiteral("applicationName")), QStringLiteral("my"));
}

void TestStartup::switchesToCoreProfileOnRequest_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("core");
    QTest::newRow("unset") << QVariant() << false;
    QTest::newRow("one") << QVariant(QStringLiteral("1")) << true;
    QTest::newRow("other number") << QVariant(QStringLiteral("17")) << true;
    QTest::newRow("negative") << QVariant(QStringLiteral("-2")) << true;
    QTest::newRow("zero") << QVariant(QStringLiteral("0")) << false;
    QTest::newRow("empty") << QVariant(QString()) << false;
    QTest::newRow("word") << QVariant(QStringLiteral("yes")) << false;
    QTest::newRow("fraction") << QVariant(QStringLiteral("1.5")) << false;
}

void TestStartup::switchesToCoreProfileOnRequest()
{
    QFETCH(QVariant, value);
    QFETCH(bool, core);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QUICK_CORE_PROFILE"));
    if (value.isValid())
        environment.insert(QStringLiteral("QT_QUICK_CORE_PROFILE"), value.toString());
    const Run run = runProbe(environment);
    QCOMPARE(run.exitCode, 0);
    const QString coreProfile = QString::number(int(QSurfaceFormat::CoreProfile));
    QCOMPARE(run.report.value(QStringLiteral("profile")) == coreProfile, core);
    if (core)
        QCOMPARE(run.report.value(QStringLiteral("version")), QStringLiteral("4.4"));
    else
        QVERIFY(run.report.value(QStringLiteral("version")) != QStringLiteral("4.4"));
}

void TestStartup::brokenRootSceneExitsWithMinusOneBeforeAnyWindow()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZUDIRUV_TEST_ROOT_SCENE"), QStringLiteral("qrc:///test/broken.qml"));
    const Run run = runProbe(environment);
    QCOMPARE(run.exitCode, 255); // -1 as a process exit status
    QVERIFY(run.shown.isEmpty());
    QVERIFY(!run.report.contains(QStringLiteral("windows")));
}

void TestStartup::shippedProgramStartsWithoutTheExternalTools()
{
    QTemporaryDir emptyWorkDir;
    QProcess program;
    program.setWorkingDirectory(emptyWorkDir.path());
    program.start(binDir() + QStringLiteral("/zudiruv"), {QStringLiteral("-platform"), QStringLiteral("offscreen")});
    QVERIFY(program.waitForStarted(10000));
    // Still running after the root scene has had ample time to load or fail.
    QVERIFY(!program.waitForFinished(3000));
    program.terminate();
    if (!program.waitForFinished(10000))
        program.kill();
}

void TestStartup::oneWindowPerWorkingFolder()
{
    QTemporaryDir folder;
    const QString lockPath = folder.filePath(QStringLiteral("zudiruv.lock"));
    const QString probe = binDir() + QStringLiteral("/startup_probe");
    {
        // Held by this live process, as a first window would hold it.
        QLockFile held(lockPath);
        QVERIFY(held.tryLock(0));
        const Run second = runProbe(probe, QProcessEnvironment::systemEnvironment(), folder.path());
        QCOMPARE(second.exitCode, 1);
        QCOMPARE(second.report.value(QStringLiteral("windows")), QStringLiteral("1"));
        QCOMPARE(second.report.value(QStringLiteral("title")), QStringLiteral("ZUDiruv is already running"));
        QVERIFY2(second.errors.contains(QStringLiteral("ZUDiruv is already running in ") + folder.path()),
                 qPrintable(second.errors));
        QVERIFY(QFileInfo::exists(lockPath));
    }

    // Left behind by a run that crashed: its process is gone.
    QProcess gone;
    gone.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    QVERIFY(gone.waitForStarted(10000));
    const qint64 gonePid = gone.processId();
    gone.kill();
    QVERIFY(gone.waitForFinished(10000));
    QFile stale(lockPath);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray::number(gonePid) + "\nstartup_probe\n" + QSysInfo::machineHostName().toUtf8() + '\n');
    stale.close();
    const Run afterCrash = runProbe(probe, QProcessEnvironment::systemEnvironment(), folder.path());
    QCOMPARE(afterCrash.exitCode, 0);
    QCOMPARE(afterCrash.report.value(QStringLiteral("title")), QStringLiteral("ZUDiruv v1.0"));
}

void TestStartup::takesOverALockNamingItsOwnProcessNumber()
{
    // In a PID namespace of its own the program is process 1, which is also
    // the number a crashed run there left in its lock.
    QTemporaryDir folder;
    const QStringList isolate{QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--mount-proc")};
    if (QProcess::execute(QStringLiteral("unshare"), isolate + QStringList{QStringLiteral("true")}) != 0)
        QSKIP("cannot make a PID namespace here (needs root and unshare)");
    const QString wrapper = folder.filePath(QStringLiteral("as-process-one"));
    QFile script(wrapper);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexec unshare " + isolate.join(QLatin1Char(' ')).toUtf8() + " \""
                 + binDir().toUtf8() + "/startup_probe\" \"$@\"\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    QFile stale(folder.filePath(QStringLiteral("zudiruv.lock")));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("1\nstartup_probe\n" + QSysInfo::machineHostName().toUtf8() + '\n');
    stale.close();
    const Run run = runProbe(wrapper, QProcessEnvironment::systemEnvironment(), folder.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.report.value(QStringLiteral("title")), QStringLiteral("ZUDiruv v1.0"));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"

#include "flash/flashhistory.h"
#include "platform/filesystem.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

// The flash history and the report: appended or replaced whole, never through
// a link that someone else planted in their place.
class TestFlashHistory : public QObject
{
    Q_OBJECT

private slots:
    void appendsOneParsableLinePerFlash();
    void refusesALinkInPlaceOfTheFile();
    void recordCutShortCostsOnlyItself();
    void writesWholeFilesWithoutFollowingLinks();

private:
    static FlashRecord sample(const QString &address)
    {
        FlashRecord record;
        record.time = QDateTime::currentDateTimeUtc();
        record.tool = QStringLiteral("zudiruv");
        record.address = address;
        record.mac = QStringLiteral("00:11:22:33:44:55");
        record.kind = QStringLiteral("POE Clock Type B");
        record.letter = QStringLiteral("A");
        record.image = QStringLiteral("poe\nb.bin");
        record.result = QStringLiteral("failed");
        record.exitStatus = 1;
        record.errors = QStringList{QStringLiteral("ERROR: no answer")};
        return record;
    }
    static mode_t modeOf(const QString &path)
    {
        struct stat info;
        return ::stat(path.toUtf8().constData(), &info) == 0 ? info.st_mode & 07777 : 0;
    }
};

void TestFlashHistory::appendsOneParsableLinePerFlash()
{
    QTemporaryDir dir;
    QString error;
    FlashRecord withCode = sample(QStringLiteral("127.0.0.2"));
    withCode.codeUploaded = true;
    withCode.codeStatus = 200;
    QVERIFY2(FlashHistory::append(dir.path(), withCode, &error), qPrintable(error));
    QVERIFY2(FlashHistory::append(dir.path(), sample(QStringLiteral("127.0.0.3")), &error), qPrintable(error));

    const QString path = dir.filePath(QLatin1String(FlashHistory::fileName));
    QCOMPARE(modeOf(path), mode_t(0600));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 3); // two records and the empty rest after the last line end
    QVERIFY(lines.last().isEmpty());
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(first.value(QStringLiteral("address")).toString(), QStringLiteral("127.0.0.2"));
    QCOMPARE(first.value(QStringLiteral("code_status")).toInt(), 200);
    QCOMPARE(first.value(QStringLiteral("image")).toString(), QStringLiteral("poe\nb.bin"));
    QCOMPARE(second.value(QStringLiteral("address")).toString(), QStringLiteral("127.0.0.3"));
    QVERIFY(second.value(QStringLiteral("code_status")).isNull());
    QCOMPARE(second.value(QStringLiteral("exit_status")).toInt(), 1);
    QCOMPARE(second.value(QStringLiteral("errors")).toArray().first().toString(), QStringLiteral("ERROR: no answer"));
}

void TestFlashHistory::refusesALinkInPlaceOfTheFile()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("bashrc"));
    QFile plant(target);
    QVERIFY(plant.open(QIODevice::WriteOnly));
    plant.write("keep me\n");
    plant.close();
    QVERIFY(QFile::link(target, dir.filePath(QLatin1String(FlashHistory::fileName))));

    QString error;
    QVERIFY(!FlashHistory::append(dir.path(), sample(QStringLiteral("127.0.0.2")), &error));
    QVERIFY2(error.contains(QLatin1String("symbolic link")), qPrintable(error));
    QVERIFY(plant.open(QIODevice::ReadOnly));
    QCOMPARE(plant.readAll(), QByteArray("keep me\n"));
}

void TestFlashHistory::recordCutShortCostsOnlyItself()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records"));
    QString error;
    QVERIFY(FileSystem::appendRecord(path, QByteArray(100, 'a') + '\n', &error));

    // A full disk, played by a file-size limit the second record crosses.
    struct rlimit previous;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = previous;
    small.rlim_cur = 150;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool appended = FileSystem::appendRecord(path, QByteArray(100, 'b') + '\n', &error);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(!appended);
    QVERIFY2(error.contains(path), qPrintable(error));

    // Whatever another writer appended after it would still be there: the
    // file is not cut back, and the next record starts a line of its own.
    QVERIFY2(FileSystem::appendRecord(path, QByteArray(100, 'c') + '\n', &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray(100, 'a') + '\n' + QByteArray(49, 'b') + '\n' + QByteArray(100, 'c') + '\n');
}

void TestFlashHistory::writesWholeFilesWithoutFollowingLinks()
{
    QTemporaryDir dir;
    QString error;
    const QString report = dir.filePath(QStringLiteral("report.json"));
    QVERIFY2(FileSystem::writeWhole(report, "{}\n", &error), qPrintable(error));
    QCOMPARE(modeOf(report), mode_t(0600));
    QVERIFY(QFile::setPermissions(report, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY2(FileSystem::writeWhole(report, "[]\n", &error), qPrintable(error));
    QCOMPARE(modeOf(report), mode_t(0640));
    // Only the permission bits carry over to the new file.
    QCOMPARE(::chmod(report.toUtf8().constData(), 06750), 0);
    QVERIFY2(FileSystem::writeWhole(report, "{}\n", &error), qPrintable(error));
    QCOMPARE(modeOf(report), mode_t(0750));

    const QString target = dir.filePath(QStringLiteral("bashrc"));
    QVERIFY(FileSystem::writeWhole(target, "keep me\n", &error));
    const QString planted = dir.filePath(QStringLiteral("planted.json"));
    QVERIFY(QFile::link(target, planted));
    QVERIFY(!FileSystem::writeWhole(planted, "{}\n", &error));
    QVERIFY2(error.contains(planted), qPrintable(error));
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me\n"));
    // Nothing is left behind beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 3);
}

QTEST_GUILESS_MAIN(TestFlashHistory)
#include "tst_flashhistory.moc"

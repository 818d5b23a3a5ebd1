#include "faketooldir.h"
#include "flash/eflash.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// The firmware image check with real files in a scratch working directory.
class TestImageCheck : public QObject
{
    Q_OBJECT

private slots:
    void acceptsOnlyTheMatchingTrailer_data();
    void acceptsOnlyTheMatchingTrailer();
    void stagesALargeImageByteForByte();
    void refusalRemovesAnEarlierStagingFile();
    void deleteTempRemovesTheStagingFileAndToleratesNone();
    void takesPathsWithSpacesAndNonAsciiCharacters();
    void acceptsAReadOnlyImage();
    void refusesWhatCannotBeRead_data();
    void refusesWhatCannotBeRead();
    void refusesAnUnreadableImage();
    void refusesWhenTheStagingFileCannotBeWritten();
    void refusesWhenTheWorkingDirectoryIsReadOnly();
    void doesNotWriteThroughAPlantedLink();

private:
    static QString stagingPath() { return QStringLiteral("flashfile.tmp"); }
    static QStringList stagingLeftovers()
    {
        return QDir().entryList({QStringLiteral("flashfile.tmp*")},
                                QDir::AllEntries | QDir::Hidden | QDir::System);
    }
};

namespace {

// Checks `file` against `type` the way the screen does and tells whether it
// was refused; the refusal must arrive before testFile returns. `sha256`
// gets the hash the check gave the file.
bool refused(const QString &file, const QString &type, QString *sha256 = nullptr)
{
    eFlash flash;
    QSignalSpy fileInvalid(&flash, &eFlash::fileInvalid);
    flash.testFile(file, type);
    if (sha256)
        *sha256 = flash.imageSha256();
    return fileInvalid.count() == 1;
}

QString sha256Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray everyByteValue(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 256) & 0xff);
    return bytes;
}

} // namespace

void TestImageCheck::acceptsOnlyTheMatchingTrailer_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("accepted");

    const QByteArray body("\x7f" "ELF firmware body \0\n\xff", 23);
    QTest::newRow("matching letter") << body + "ODLA" << QStringLiteral("A") << true;
    QTest::newRow("another letter") << body + "ODLA" << QStringLiteral("B") << false;
    QTest::newRow("letter in other case") << body + "ODLa" << QStringLiteral("A") << false;
    QTest::newRow("mark in other case") << body + "odlA" << QStringLiteral("A") << false;
    QTest::newRow("undetermined kind G") << body + "ODLG" << QStringLiteral("G") << true;
    QTest::newRow("no kind yet, ordinary image") << body + "ODLC" << QString() << false;
    QTest::newRow("no kind yet, mark and zero byte") << body + QByteArray("ODL\0", 4) << QString() << true;
    QTest::newRow("line feed inside the trailer") << body + "O\nLA" << QStringLiteral("A") << false;
    QTest::newRow("zero byte inside the trailer") << body + QByteArray("OD\0A", 4) << QStringLiteral("A") << false;
    QTest::newRow("empty file") << QByteArray() << QString() << false;
    QTest::newRow("three bytes, mark only, no kind") << QByteArray("ODL") << QString() << true;
    QTest::newRow("three bytes, mark only, with kind") << QByteArray("ODL") << QStringLiteral("A") << false;
    QTest::newRow("four matching bytes") << QByteArray("ODLE") << QStringLiteral("E") << true;
    QTest::newRow("two-letter kind never matches") << body + "ODLA" << QStringLiteral("AB") << false;
}

void TestImageCheck::acceptsOnlyTheMatchingTrailer()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, type);
    QFETCH(bool, accepted);

    FakeToolDir dir;
    QVERIFY(dir.writeFile(QStringLiteral("image.bin"), content));
    QString sha256;
    QCOMPARE(refused(QStringLiteral("image.bin"), type, &sha256), !accepted);
    QCOMPARE(sha256, accepted ? sha256Of(content) : QString());
    if (accepted) {
        QVERIFY(dir.exists(stagingPath()));
        QCOMPARE(dir.readFile(stagingPath()), content.left(qMax(0, content.size() - 4)));
        QCOMPARE(stagingLeftovers(), QStringList{stagingPath()});
    } else {
        QVERIFY(stagingLeftovers().isEmpty());
    }
}

void TestImageCheck::stagesALargeImageByteForByte()
{
    FakeToolDir dir;
    const QByteArray image = everyByteValue(5 * 1024 * 1024 + 77);
    QVERIFY(dir.writeFile(QStringLiteral("big.bin"), image + "ODLF"));
    QString sha256;
    QVERIFY(!refused(dir.path() + QStringLiteral("/big.bin"), QStringLiteral("F"), &sha256));
    QVERIFY(dir.readFile(stagingPath()) == image);
    QCOMPARE(sha256, sha256Of(image + "ODLF"));
}

void TestImageCheck::refusalRemovesAnEarlierStagingFile()
{
    FakeToolDir dir;
    QVERIFY(dir.writeFile(QStringLiteral("image.bin"), "firmwareODLB"));
    QVERIFY(!refused(QStringLiteral("image.bin"), QStringLiteral("B")));
    QVERIFY(dir.exists(stagingPath()));

    QVERIFY(refused(QStringLiteral("image.bin"), QStringLiteral("D")));
    QVERIFY(stagingLeftovers().isEmpty());

    QVERIFY(dir.writeFile(stagingPath(), "left by an earlier session"));
    QVERIFY(refused(QStringLiteral("missing.bin"), QStringLiteral("B")));
    QVERIFY(stagingLeftovers().isEmpty());
}

void TestImageCheck::deleteTempRemovesTheStagingFileAndToleratesNone()
{
    FakeToolDir dir;
    eFlash flash;
    QSignalSpy fileInvalid(&flash, &eFlash::fileInvalid);
    flash.deleteTemp();
    QVERIFY(stagingLeftovers().isEmpty());

    QVERIFY(dir.writeFile(QStringLiteral("image.bin"), "firmwareODLA"));
    flash.testFile(QStringLiteral("image.bin"), QStringLiteral("A"));
    QVERIFY(dir.exists(stagingPath()));
    flash.deleteTemp();
    QVERIFY(!dir.exists(stagingPath()));
    QVERIFY(dir.exists(QStringLiteral("image.bin")));
    QCOMPARE(fileInvalid.count(), 0);
}

void TestImageCheck::takesPathsWithSpacesAndNonAsciiCharacters()
{
    FakeToolDir dir;
    const QString folder = QString::fromUtf8("Prüfstand Ordner €");
    QVERIFY(QDir(dir.path()).mkdir(folder));
    const QString file = folder + QString::fromUtf8("/Firmware v2 – Ω.bin");
    QVERIFY(dir.writeFile(file, "imageODLC"));
    QVERIFY(!refused(dir.path() + QLatin1Char('/') + file, QStringLiteral("C")));
    QCOMPARE(dir.readFile(stagingPath()), QByteArray("image"));
}

void TestImageCheck::acceptsAReadOnlyImage()
{
    FakeToolDir dir;
    QVERIFY(dir.writeFile(QStringLiteral("image.bin"), "imageODLD"));
    QVERIFY(QFile::setPermissions(QStringLiteral("image.bin"), QFileDevice::ReadOwner));
    QVERIFY(!refused(QStringLiteral("image.bin"), QStringLiteral("D")));
    QCOMPARE(dir.readFile(stagingPath()), QByteArray("image"));
}

void TestImageCheck::refusesWhatCannotBeRead_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << QStringLiteral("nothing-here.bin");
    QTest::newRow("empty path") << QString();
    QTest::newRow("directory") << QStringLiteral("folder.bin");
    QTest::newRow("fifo") << QStringLiteral("pipe.bin");
    QTest::newRow("device") << QStringLiteral("/dev/zero");
    QTest::newRow("embedded zero character") << QStringLiteral("image.bin") + QChar(0) + QStringLiteral("x");
}

void TestImageCheck::refusesWhatCannotBeRead()
{
    QFETCH(QString, path);
    FakeToolDir dir;
    QVERIFY(dir.writeFile(QStringLiteral("image.bin"), QByteArray("imageODL\0", 9)));
    QVERIFY(QDir().mkdir(QStringLiteral("folder.bin")));
    QCOMPARE(::mkfifo("pipe.bin", 0600), 0);
    // With an empty kind a readable "image.bin" would pass, so each refusal
    // below comes from the path alone.
    QVERIFY(refused(path, QString()));
    QVERIFY(stagingLeftovers().isEmpty());
}

void TestImageCheck::refusesAnUnreadableImage()
{
    if (::geteuid() == 0)
        QSKIP("root can read a file without read permission");
    FakeToolDir dir;
    QVERIFY(dir.writeFile(QStringLiteral("image.bin"), "imageODLA"));
    QVERIFY(QFile::setPermissions(QStringLiteral("image.bin"), QFileDevice::WriteOwner));
    QVERIFY(refused(QStringLiteral("image.bin"), QStringLiteral("A")));
    QVERIFY(stagingLeftovers().isEmpty());
}

void TestImageCheck::refusesWhenTheStagingFileCannotBeWritten()
{
    FakeToolDir dir;
    QVERIFY(dir.writeFile(QStringLiteral("image.bin"), everyByteValue(1 << 20) + "ODLA"));

    // A file size limit makes the write fail part-way, as a full disk would.
    struct rlimit previous;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = previous;
    small.rlim_cur = 64 * 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool wasRefused = refused(QStringLiteral("image.bin"), QStringLiteral("A"));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(wasRefused);
    QVERIFY(stagingLeftovers().isEmpty());

    // A staging name that cannot be replaced leaves no half-way file either.
    QVERIFY(QDir().mkpath(QStringLiteral("flashfile.tmp/occupied")));
    QVERIFY(refused(QStringLiteral("image.bin"), QStringLiteral("A")));
    QCOMPARE(stagingLeftovers(), QStringList{stagingPath()});
    QVERIFY(QFileInfo(stagingPath()).isDir());
}

void TestImageCheck::refusesWhenTheWorkingDirectoryIsReadOnly()
{
    if (::geteuid() == 0)
        QSKIP("root can write into a read-only directory");
    FakeToolDir dir;
    QVERIFY(dir.writeFile(QStringLiteral("image.bin"), "imageODLA"));
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const bool wasRefused = refused(QStringLiteral("image.bin"), QStringLiteral("A"));
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(wasRefused);
    QVERIFY(stagingLeftovers().isEmpty());
}

void TestImageCheck::doesNotWriteThroughAPlantedLink()
{
    FakeToolDir dir;
    QVERIFY(dir.writeFile(QStringLiteral("precious.txt"), "keep me"));
    QVERIFY(QFile::link(QStringLiteral("precious.txt"), stagingPath()));
    QVERIFY(dir.writeFile(QStringLiteral("image.bin"), "imageODLA"));
    QVERIFY(!refused(QStringLiteral("image.bin"), QStringLiteral("A")));
    QCOMPARE(dir.readFile(QStringLiteral("precious.txt")), QByteArray("keep me"));
    QVERIFY(!QFileInfo(stagingPath()).isSymLink());
    QCOMPARE(dir.readFile(stagingPath()), QByteArray("image"));
}

QTEST_GUILESS_MAIN(TestImageCheck)
#include "tst_imagecheck.moc"

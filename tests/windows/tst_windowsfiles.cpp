#include "flash/eflash.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

// The staging file on Windows, where a file that another program holds open
// cannot simply be replaced, in a working folder whose name has spaces and
// characters beyond ASCII. Run under Wine.
class TestWindowsFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void stagesOverAnImageAReaderStillHolds();
    void refusesToStageOverAnImageHeldExclusively();

private:
    // Opens `path` for reading as another program would, with or without
    // letting it be deleted meanwhile.
    static HANDLE holdOpen(const QString &path, bool allowDelete)
    {
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (allowDelete ? FILE_SHARE_DELETE : 0);
        return CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                           GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    static QByteArray readFrom(HANDLE file)
    {
        char buffer[64];
        DWORD got = 0;
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        return ReadFile(file, buffer, sizeof buffer, &got, nullptr) ? QByteArray(buffer, int(got)) : QByteArray();
    }
    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    }
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }
    QStringList folderEntries() const { return QDir(m_work).entryList(QDir::Files | QDir::Hidden | QDir::System); }
    // Stages `body` with the PoE clock's trailer from a folder of its own.
    bool stage(const QByteArray &body)
    {
        const QString image = m_root.filePath(QStringLiteral("Firmware für Uhren/poe b ä.bin"));
        QDir().mkpath(QFileInfo(image).path());
        write(image, body + "ODLA");
        eFlash flash;
        QSignalSpy refused(&flash, &eFlash::fileInvalid);
        flash.testFile(image, QStringLiteral("A"));
        return refused.isEmpty();
    }

    QTemporaryDir m_root;
    QString m_work;
    QString m_before;
};

void TestWindowsFiles::init()
{
    m_work = m_root.filePath(QStringLiteral("Prüfstand Ä %1").arg(QLatin1String(QTest::currentTestFunction())));
    QVERIFY(QDir().mkpath(m_work));
    m_before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_work));
}

void TestWindowsFiles::cleanup()
{
    QDir::setCurrent(m_before);
}

void TestWindowsFiles::stagesOverAnImageAReaderStillHolds()
{
    write(QStringLiteral("flashfile.tmp"), "earlier image");
    const HANDLE reader = holdOpen(QStringLiteral("flashfile.tmp"), true);
    QVERIFY(reader != INVALID_HANDLE_VALUE);

    QVERIFY(stage("new image"));
    QCOMPARE(contents(QStringLiteral("flashfile.tmp")), QByteArray("new image"));
    QCOMPARE(readFrom(reader), QByteArray("earlier image"));
    CloseHandle(reader);
    QCOMPARE(folderEntries(), QStringList{QStringLiteral("flashfile.tmp")});

    // And again, while the new one is read in turn.
    const HANDLE nextReader = holdOpen(QStringLiteral("flashfile.tmp"), true);
    QVERIFY(stage("third image"));
    CloseHandle(nextReader);
    QCOMPARE(contents(QStringLiteral("flashfile.tmp")), QByteArray("third image"));
    QCOMPARE(folderEntries(), QStringList{QStringLiteral("flashfile.tmp")});
}

void TestWindowsFiles::refusesToStageOverAnImageHeldExclusively()
{
    write(QStringLiteral("flashfile.tmp"), "earlier image");
    const HANDLE holder = holdOpen(QStringLiteral("flashfile.tmp"), false);
    QVERIFY(holder != INVALID_HANDLE_VALUE);
    const bool staged = stage("new image");
    CloseHandle(holder);
    QVERIFY(!staged);
    // Not half done: the earlier image as it was, and nothing beside it.
    QCOMPARE(contents(QStringLiteral("flashfile.tmp")), QByteArray("earlier image"));
    QCOMPARE(folderEntries(), QStringList{QStringLiteral("flashfile.tmp")});
    // Refused for the hold alone.
    QVERIFY(stage("new image"));
    QCOMPARE(contents(QStringLiteral("flashfile.tmp")), QByteArray("new image"));
}

QTEST_GUILESS_MAIN(TestWindowsFiles)
#include "tst_windowsfiles.moc"

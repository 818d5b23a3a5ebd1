#include "flash/eflash.h"
#include "flash/flashhistory.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

// The staging file and the flash history on Windows, where a file that
// another program holds open cannot simply be replaced, in a working folder
// whose name has spaces and characters beyond ASCII. Run under Wine.
class TestWindowsFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void stagesOverAnImageAReaderStillHolds();
    void refusesToStageOverAnImageHeldExclusively();
    void appendsWholeLinesBesideAnotherWriter();

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

void TestWindowsFiles::appendsWholeLinesBesideAnotherWriter()
{
    // Another program appending to the same history, holding it open.
    write(QLatin1String(FlashHistory::fileName), QByteArray());
    const HANDLE other = CreateFileW(L"zudiruv-history.jsonl", FILE_APPEND_DATA | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    QVERIFY(other != INVALID_HANDLE_VALUE);
    QString error;
    for (int n = 0; n < 3; ++n) {
        FlashRecord record;
        record.address = QStringLiteral("127.0.0.%1").arg(n + 2);
        record.image = QStringLiteral("poe b ä.bin");
        QVERIFY2(FlashHistory::append(QDir::currentPath(), record, &error), qPrintable(error));
        const QByteArray line = "{\"tool\":\"other\"}\n";
        DWORD written = 0;
        QVERIFY(WriteFile(other, line.constData(), DWORD(line.size()), &written, nullptr));
    }
    CloseHandle(other);

    const QList<QByteArray> lines = contents(QLatin1String(FlashHistory::fileName)).split('\n');
    QCOMPARE(lines.size(), 7);
    for (int n = 0; n < 3; ++n) {
        const QJsonObject ours = QJsonDocument::fromJson(lines[2 * n]).object();
        QCOMPARE(ours.value(QStringLiteral("address")).toString(), QStringLiteral("127.0.0.%1").arg(n + 2));
        QCOMPARE(ours.value(QStringLiteral("image")).toString(), QStringLiteral("poe b ä.bin"));
        QCOMPARE(lines[2 * n + 1], QByteArray("{\"tool\":\"other\"}"));
    }
}

QTEST_GUILESS_MAIN(TestWindowsFiles)
#include "tst_windowsfiles.moc"

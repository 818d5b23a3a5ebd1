#include <QCryptographicHash>
#include <QFile>
#include <QJSEngine>
#include <QRegularExpression>
#include <QtTest>

// The password digest script, run as it is in a script engine and checked
// against the framework's MD5 over the bytes each text must encode to.
class TestMd5 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rfc1321Suite_data();
    void rfc1321Suite();
    void encoding_data();
    void encoding();
    void lengthsAroundBlockBoundaries();
    void keepsNoStateBetweenCalls();

private:
    QString digest(const QString &text);

    QJSEngine m_engine;
    QJSValue m_hexMd5;
};

static QString md5Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

static QString fromUnits(std::initializer_list<ushort> units)
{
    QString text;
    for (ushort unit : units)
        text.append(QChar(unit));
    return text;
}

void TestMd5::initTestCase()
{
    const QString path = qEnvironmentVariable("ZUDIRUV_SOURCE_DIR") + QStringLiteral("/qml/content/md5.js");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QJSValue loaded = m_engine.evaluate(QString::fromUtf8(file.readAll()), path);
    QVERIFY2(!loaded.isError(), qPrintable(loaded.toString()));
    m_hexMd5 = m_engine.globalObject().property(QStringLiteral("hex_md5"));
    QVERIFY(m_hexMd5.isCallable());
}

QString TestMd5::digest(const QString &text)
{
    const QJSValue result = m_hexMd5.call({QJSValue(text)});
    if (result.isError() || !result.isString())
        return QStringLiteral("<not a text: %1>").arg(result.toString());
    // Every digest must be exactly 32 lower-case hexadecimal digits.
    static const QRegularExpression form(QStringLiteral("^[0-9a-f]{32}$"));
    if (!form.match(result.toString()).hasMatch())
        return QStringLiteral("<malformed: %1>").arg(result.toString());
    return result.toString();
}

void TestMd5::rfc1321Suite_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    // RFC 1321, appendix A.5.
    QTest::newRow("empty") << QString() << QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");
    QTest::newRow("a") << QStringLiteral("a") << QStringLiteral("0cc175b9c0f1b6a831c399e269772661");
    QTest::newRow("abc") << QStringLiteral("abc") << QStringLiteral("900150983cd24fb0d6963f7d28e17f72");
    QTest::newRow("message digest") << QStringLiteral("message digest")
                                    << QStringLiteral("f96b697d7cb7938d525a2f31aaf161d0");
    QTest::newRow("alphabet") << QStringLiteral("abcdefghijklmnopqrstuvwxyz")
                              << QStringLiteral("c3fcd3d76192e4007dfb496cca67e13b");
    QTest::newRow("alphanumeric")
        << QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
        << QStringLiteral("d174ab98d277d9f5a5611c2c9f419d9f");
    QTest::newRow("digits x8") << QStringLiteral("1234567890").repeated(8)
                               << QStringLiteral("57edf4a22be3c955ac49da2e2107b67a");
}

void TestMd5::rfc1321Suite()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(digest(text), expected);
    QCOMPARE(digest(text), md5Of(text.toLatin1()));
}

void TestMd5::encoding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("default password") << QStringLiteral("plorvask") << QByteArray("plorvask");
    QTest::newRow("two-byte letters") << QStringLiteral("Gr\u00fc\u00dfe")
                                      << QByteArray("Gr\xc3\xbc\xc3\x9f" "e");
    QTest::newRow("U+0080") << fromUnits({0x0080}) << QByteArray("\xc2\x80");
    QTest::newRow("U+07FF") << fromUnits({0x07FF}) << QByteArray("\xdf\xbf");
    QTest::newRow("U+0800") << fromUnits({0x0800}) << QByteArray("\xe0\xa0\x80");
    QTest::newRow("euro sign") << QStringLiteral("\u20ac5") << QByteArray("\xe2\x82\xac" "5");
    QTest::newRow("U+FFFF") << fromUnits({0xFFFF}) << QByteArray("\xef\xbf\xbf");
    QTest::newRow("NUL inside") << fromUnits({'a', 0, 'b'}) << QByteArray("a\0b", 3);
    QTest::newRow("outside the BMP") << fromUnits({'x', 0xD834, 0xDD1E, 'y'})
                                     << QByteArray("x\xf0\x9d\x84\x9ey");
    QTest::newRow("U+10000") << fromUnits({0xD800, 0xDC00}) << QByteArray("\xf0\x90\x80\x80");
    QTest::newRow("U+10FFFF") << fromUnits({0xDBFF, 0xDFFF}) << QByteArray("\xf4\x8f\xbf\xbf");
    QTest::newRow("two pairs in a row") << fromUnits({0xD83D, 0xDE00, 0xD83D, 0xDE01})
                                        << QByteArray("\xf0\x9f\x98\x80\xf0\x9f\x98\x81");
    QTest::newRow("lone high surrogate") << fromUnits({0xD800}) << QByteArray("\xed\xa0\x80");
    QTest::newRow("lone low surrogate") << fromUnits({0xDC00}) << QByteArray("\xed\xb0\x80");
    QTest::newRow("high surrogate at the end") << fromUnits({'a', 0xD83D})
                                               << QByteArray("a\xed\xa0\xbd");
    QTest::newRow("high surrogate before a letter") << fromUnits({0xD83D, 'x'})
                                                    << QByteArray("\xed\xa0\xbdx");
    QTest::newRow("high surrogate before U+E000") << fromUnits({0xD83D, 0xE000})
                                                  << QByteArray("\xed\xa0\xbd\xee\x80\x80");
    QTest::newRow("low before high") << fromUnits({0xDC00, 0xD800})
                                     << QByteArray("\xed\xb0\x80\xed\xa0\x80");
    QTest::newRow("two high surrogates then a low")
        << fromUnits({0xD83D, 0xD83D, 0xDE00}) << QByteArray("\xed\xa0\xbd\xf0\x9f\x98\x80");
}

void TestMd5::encoding()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(digest(text), md5Of(bytes));
}

// Padding puts the bit length into the last eight bytes of a 64-byte block;
// byte counts around 56 and 64 are where a routine goes wrong.
void TestMd5::lengthsAroundBlockBoundaries()
{
    const QString pieces[] = {QStringLiteral("k"), QStringLiteral("\u00e9"),
                              QStringLiteral("\u6642"), QString::fromUtf16(u"\U0001F552")};
    for (const QString &piece : pieces) {
        QString text;
        for (int count = 0; count <= 140; ++count) {
            QCOMPARE(digest(text), md5Of(text.toUtf8()));
            text += piece;
        }
    }
    const QString long1k = QStringLiteral("Velquor \u00e4").repeated(1000);
    QCOMPARE(digest(long1k), md5Of(long1k.toUtf8()));
}

void TestMd5::keepsNoStateBetweenCalls()
{
    const QString first = digest(QStringLiteral("plorvask"));
    digest(QStringLiteral("something else entirely, long enough to fill more than one block ")
               .repeated(3));
    digest(QString());
    QCOMPARE(digest(QStringLiteral("plorvask")), first);
}

QTEST_GUILESS_MAIN(TestMd5)

#include "tst_md5.moc"

// The parsers every tool reads its command line with, and the option table
// built on them.

#include "boundednumber.h"
#include "ipv4address.h"
#include "macaddress.h"
#include "optiontable.h"

#include <QtTest>

#include <arpa/inet.h>

#include <vector>

namespace {

// Runs `table` over the arguments after a program name.
OptionTable::Parsed parseWith(OptionTable &table, const std::vector<std::string> &arguments)
{
    std::vector<const char *> argv{"tool"};
    for (const std::string &argument : arguments)
        argv.push_back(argument.c_str());
    return table.parse(int(argv.size()), argv.data());
}

}

class ToolsCommonTest : public QObject
{
    Q_OBJECT

private slots:
    void parsesMacAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // empty: refused

        QTest::newRow("colons") << "00:11:22:33:44:55" << "00:11:22:33:44:55";
        QTest::newRow("dashes, upper case") << "0A-1B-2C-3D-4E-5F" << "0a:1b:2c:3d:4e:5f";
        QTest::newRow("dots") << "00.11.22.33.44.55" << "";
        QTest::newRow("mixed separators") << "00:11-22:33:44:55" << "";
        QTest::newRow("not hex") << "00:11:22:33:44:5g" << "";
        QTest::newRow("one digit group") << "0:11:22:33:44:55" << "";
        QTest::newRow("five groups") << "00:11:22:33:44" << "";
        QTest::newRow("seven groups") << "00:11:22:33:44:55:66" << "";
        QTest::newRow("no separators") << "001122334455" << "";
        QTest::newRow("trailing blank") << "00:11:22:33:44:55 " << "";
        QTest::newRow("empty") << "" << "";
    }
    void parsesMacAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const auto mac = parseMacAddress(text.toStdString());
        QCOMPARE(mac ? QString::fromStdString(formatMacAddress(*mac)) : QString(), expected);
    }

    void parsesIpv4Addresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // empty: refused

        QTest::newRow("loopback") << "127.0.0.1" << "127.0.0.1";
        QTest::newRow("highest parts") << "255.255.255.254" << "255.255.255.254";
        QTest::newRow("zero parts") << "10.0.0.0" << "10.0.0.0";
        QTest::newRow("leading zero") << "127.0.0.010" << "";
        QTest::newRow("part above 255") << "10.0.0.256" << "";
        QTest::newRow("four digits") << "10.0.0.1000" << "";
        QTest::newRow("three parts") << "127.0.1" << "";
        QTest::newRow("five parts") << "1.2.3.4.5" << "";
        QTest::newRow("empty part") << "1..3.4" << "";
        QTest::newRow("trailing dot") << "1.2.3.4." << "";
        QTest::newRow("hex") << "0x7f.0.0.1" << "";
        QTest::newRow("blank") << " 1.2.3.4" << "";
        QTest::newRow("sign") << "1.2.3.+4" << "";
        QTest::newRow("host name") << "localhost" << "";
        QTest::newRow("empty") << "" << "";
    }
    void parsesIpv4Addresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const auto address = parseIpv4Address(text.toStdString());
        QCOMPARE(address ? QString::fromStdString(addressText(*address)) : QString(), expected);
    }

    void tellsDeviceAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("device");

        QTest::newRow("unicast") << "192.0.2.7" << true;
        QTest::newRow("loopback") << "127.0.0.2" << true;
        QTest::newRow("any") << "0.0.0.0" << false;
        QTest::newRow("broadcast") << "255.255.255.255" << false;
        QTest::newRow("first multicast") << "224.0.0.1" << false;
        QTest::newRow("last multicast") << "239.255.255.255" << false;
        QTest::newRow("above multicast") << "240.0.0.1" << true;
    }
    void tellsDeviceAddresses()
    {
        QFETCH(QString, text);
        QFETCH(bool, device);
        const auto address = parseIpv4Address(text.toStdString());
        QVERIFY(address);
        QCOMPARE(isDeviceAddress(*address), device);
    }

    void parsesBoundedNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("minimum");
        QTest::addColumn<qint64>("maximum");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<qint64>("expected");

        QTest::newRow("lowest") << "1" << 1ll << 10ll << true << 1ll;
        QTest::newRow("highest") << "10" << 1ll << 10ll << true << 10ll;
        QTest::newRow("below") << "0" << 1ll << 10ll << false << 0ll;
        QTest::newRow("above") << "11" << 1ll << 10ll << false << 0ll;
        QTest::newRow("negative") << "-5" << -10ll << 10ll << true << -5ll;
        QTest::newRow("negative refused") << "-1" << 0ll << 10ll << false << 0ll;
        QTest::newRow("leading zeros") << "007" << 0ll << 10ll << true << 7ll;
        QTest::newRow("plus") << "+5" << 0ll << 10ll << false << 0ll;
        QTest::newRow("blank") << " 5" << 0ll << 10ll << false << 0ll;
        QTest::newRow("unit") << "5ms" << 0ll << 10ll << false << 0ll;
        QTest::newRow("hex") << "0x5" << 0ll << 10ll << false << 0ll;
        QTest::newRow("minus alone") << "-" << -10ll << 10ll << false << 0ll;
        QTest::newRow("empty") << "" << 0ll << 10ll << false << 0ll;
        QTest::newRow("largest 64 bit") << "9223372036854775807" << 0ll << LLONG_MAX << true << LLONG_MAX;
        QTest::newRow("smallest 64 bit") << "-9223372036854775808" << LLONG_MIN << 0ll << true << LLONG_MIN;
        QTest::newRow("overflow") << "9223372036854775808" << 0ll << LLONG_MAX << false << 0ll;
        QTest::newRow("far overflow") << "99999999999999999999999" << 0ll << LLONG_MAX << false << 0ll;
    }
    void parsesBoundedNumbers()
    {
        QFETCH(QString, text);
        QFETCH(qint64, minimum);
        QFETCH(qint64, maximum);
        QFETCH(bool, taken);
        QFETCH(qint64, expected);
        const auto number = parseBoundedNumber(text.toStdString(), minimum, maximum);
        QCOMPARE(bool(number), taken);
        if (number)
            QCOMPARE(qint64(*number), expected);
    }

    void optionTableReadsEveryKindOfValue()
    {
        bool verbose = false;
        int count = 0;
        std::chrono::milliseconds wait{0};
        in_addr address{};
        MacAddress mac{};
        std::string name;
        std::vector<std::string> files;
        OptionTable table("tool", "[options] FILE...");
        table.flag("-v --verbose", "say more", &verbose)
            .number("-n", "COUNT", "probes", &count, 1, 5)
            .milliseconds("--wait-ms", "MS", "wait", &wait, 0, 1000)
            .address("-i", "IP", "address", &address)
            .mac("-m", "MAC", "hardware address", &mac)
            .text("--name", "TEXT", "a name", &name)
            .positional("FILE", "", [&](const std::string &file) {
                files.push_back(file);
                return std::string();
            }, 1, 2);

        QCOMPARE(parseWith(table, {"--verbose", "-n", "3", "--wait-ms=250", "-i", "10.0.0.2", "a.bin",
                                   "-m", "02-00-00-00-00-0A", "--name", "-odd-", "--", "-b.bin"}),
                 OptionTable::Parsed::Run);
        QVERIFY(verbose);
        QCOMPARE(count, 3);
        QCOMPARE(wait.count(), 250);
        QCOMPARE(addressText(address), std::string("10.0.0.2"));
        QCOMPARE(formatMacAddress(mac), std::string("02:00:00:00:00:0a"));
        QCOMPARE(name, std::string("-odd-"));
        QCOMPARE(files, (std::vector<std::string>{"a.bin", "-b.bin"}));
        QVERIFY(table.wasGiven("-v"));
        QVERIFY(!table.wasGiven("--help"));
    }

    void optionTableRefusesBadCommandLines_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QString>("problem");

        QTest::newRow("unknown option") << QByteArrayList{"--mac", "00:11:22:33:44:55", "--colour"}
                                        << "unknown option --colour";
        QTest::newRow("missing value") << QByteArrayList{"--mac"} << "--mac needs a value MAC";
        QTest::newRow("bad MAC") << QByteArrayList{"--mac", "00.11.22.33.44.55"} << "bad value for --mac";
        QTest::newRow("number out of range") << QByteArrayList{"--mac", "00:11:22:33:44:55", "-n", "0"}
                                             << "from 1 to 5";
        QTest::newRow("required missing") << QByteArrayList{"-n", "2"} << "--mac MAC is needed";
        QTest::newRow("value for a flag") << QByteArrayList{"--mac", "00:11:22:33:44:55", "--quiet=yes"}
                                          << "--quiet takes no value";
        QTest::newRow("address of no one device") << QByteArrayList{"--mac", "00:11:22:33:44:55", "-i", "224.0.0.1"}
                                                  << "not a device address";
        QTest::newRow("stray argument") << QByteArrayList{"--mac", "00:11:22:33:44:55", "image.bin"}
                                        << "unexpected argument \"image.bin\"";
    }
    void optionTableRefusesBadCommandLines()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QString, problem);
        MacAddress mac{};
        int count = 1;
        bool quiet = false;
        in_addr device{};
        OptionTable table("tool", "--mac MAC");
        table.mac("--mac", "MAC", "hardware address", &mac).required()
            .number("-n", "COUNT", "probes", &count, 1, 5)
            .deviceAddress("-i", "IP", "device", &device)
            .flag("--quiet", "say less", &quiet);
        std::vector<std::string> argv;
        for (const QByteArray &argument : arguments)
            argv.push_back(argument.toStdString());
        QCOMPARE(parseWith(table, argv), OptionTable::Parsed::Invalid);
        QVERIFY2(QString::fromStdString(table.problem()).contains(problem), table.problem().c_str());
    }

    void optionTablePrintsItsUsage()
    {
        int count = 0;
        bool verbose = false;
        OptionTable table("tool", "-n COUNT", "Counts things.");
        table.number("-n --count", "COUNT", "how many\n(1..5)", &count, 1, 5)
            .flag("--a-much-longer-option-name", "shown below its name", &verbose);
        QCOMPARE(parseWith(table, {"-n", "2", "--help"}), OptionTable::Parsed::Help);
        QCOMPARE(QString::fromStdString(table.usage()),
                 QStringLiteral("usage: tool -n COUNT\n"
                                "Counts things.\n"
                                "\n"
                                "  -n, --count COUNT         how many\n"
                                "                            (1..5)\n"
                                "  --a-much-longer-option-name\n"
                                "                            shown below its name\n"
                                "  -h, --help                show this help\n"));
    }
};

QTEST_GUILESS_MAIN(ToolsCommonTest)
#include "tst_toolscommon.moc"

#include "simoptions.h"

#include "boundednumber.h"
#include "ipv4address.h"

const char *const simulatorSummary =
    "Simulated Velquor network clock or time server: answers the device web\n"
    "interface over HTTP/1.1 for tests and demonstrations on loopback.\n"
    "\n"
    "Pages: /index.html (open to everyone; title \"Velquor Configuration\", or\n"
    "\"Time Server Configuration\" for the VO1000), and, behind the password,\n"
    "/var/www/settings.html, /var/www/version.html, /var/www/mac.html (the MAC\n"
    "text alone), /var/www/update.html (the timestamp text alone); POST\n"
    "/etc/update_code takes the update code as its body.\n"
    "Credential: \"Authorization: Basic <credential>\", no user name, no Base64.\n"
    "Generation A takes the password in plain, generation B its MD5 digest\n"
    "(32 lower-case hex digits); a wrong credential gets 401.\n"
    "\n"
    "Every request, every answer sent, every reset and every update-code upload\n"
    "is logged as one JSON object per line (field \"event\": request, response,\n"
    "reset, update_code), flushed at once.\n"
    "\n"
    "Fault options take a request path (without query) or \"*\" for every path\n"
    "and may be given several times; an exact path overrides \"*\".\n"
    "\n"
    "With --boot-loader the device also runs its Ethernet boot loader on its own\n"
    "address: it waits for the magic packet (UDP port 9), asks for an address by\n"
    "BOOTP and fetches the image by TFTP, session after session; each flash is\n"
    "logged as a \"flash\" event. From the magic packet until --reboot-seconds\n"
    "after the session the web interface is gone (events \"offline\", \"online\").\n"
    "Its ports need root.\n"
    "\n"
    "Commands on standard input, one per line: \"release [PATH]\" answers held\n"
    "requests (all of them without PATH); \"quit\" stops the device.\n"
    "\n"
    "Prints \"listening on ADDRESS:PORT\" once ready (the real port for --port 0);\n"
    "exits with status 1 when it cannot listen, 2 on a bad option.";

in_addr SimOptions::defaultAddress()
{
    return *parseIpv4Address("127.0.0.2");
}

namespace simoption {

namespace {

bool isPath(const QString &path)
{
    return path == QLatin1String("*") || path.startsWith(QLatin1Char('/'));
}

// Splits "PATH=VALUE" at the first "=": paths hold none, a --body text may.
bool splitPathValue(const std::string &text, QString *path, std::string *value)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        return false;
    *path = QString::fromStdString(text.substr(0, equals));
    *value = text.substr(equals + 1);
    return isPath(*path);
}

// Reads one of `names` (lower case, any case accepted) into the value beside it.
template<typename Value>
OptionTable::Reader choice(Value *target, std::initializer_list<std::pair<const char *, Value>> names)
{
    const std::vector<std::pair<const char *, Value>> table(names);
    return [target, table](const std::string &text) {
        const QString wanted = QString::fromStdString(text).toLower();
        std::string known;
        for (const auto &entry : table) {
            if (wanted == QLatin1String(entry.first)) {
                *target = entry.second;
                return std::string();
            }
            known += (known.empty() ? "" : ", ") + std::string(entry.first);
        }
        return "one of " + known + " is needed";
    };
}

const char *const pathProblem = "a path starting with \"/\", or \"*\", is needed";

}

OptionTable::Reader text(QString *target)
{
    return [target](const std::string &value) {
        *target = QString::fromStdString(value);
        return std::string();
    };
}

OptionTable::Reader kind(DevicePages::Kind *target)
{
    using Kind = DevicePages::Kind;
    return choice(target, {{"poe", Kind::Poe}, {"wifi", Kind::Wifi}, {"vo1000", Kind::Vo1000}});
}

OptionTable::Reader generation(DevicePages::Generation *target)
{
    using Generation = DevicePages::Generation;
    return choice(target, {{"a", Generation::A}, {"b", Generation::B}});
}

OptionTable::Reader credentials(int *target)
{
    return choice(target, {{"plain", int(WebInterface::PlainPassword)},
                           {"digest", int(WebInterface::PasswordDigest)},
                           {"both", WebInterface::PlainPassword | WebInterface::PasswordDigest}});
}

OptionTable::Reader pathFlag(PathBehaviours *behaviours, bool PathBehaviour::*member)
{
    return [=](const std::string &value) {
        const QString path = QString::fromStdString(value);
        if (!isPath(path))
            return std::string(pathProblem);
        behaviours->forPath(path).*member = true;
        return std::string();
    };
}

OptionTable::Reader pathNumber(PathBehaviours *behaviours, long long minimum, long long maximum,
                               void (*store)(PathBehaviour &, long long))
{
    return [=](const std::string &text) {
        QString path;
        std::string value;
        const auto number = splitPathValue(text, &path, &value)
            ? parseBoundedNumber(value, minimum, maximum)
            : std::nullopt;
        if (!number)
            return "PATH=NUMBER with NUMBER from " + std::to_string(minimum) + " to " + std::to_string(maximum)
                + " is needed";
        store(behaviours->forPath(path), *number);
        return std::string();
    };
}

OptionTable::Reader pathText(PathBehaviours *behaviours)
{
    return [=](const std::string &text) {
        QString path;
        std::string value;
        if (!splitPathValue(text, &path, &value))
            return std::string("PATH=TEXT is needed");
        PathBehaviour &behaviour = behaviours->forPath(path);
        behaviour.hasBody = true;
        behaviour.body = QByteArray::fromStdString(value);
        return std::string();
    };
}

}

#include "optiontable.h"

#include "boundednumber.h"
#include "ipv4address.h"

#include <algorithm>
#include <sstream>

namespace {

constexpr std::size_t helpColumn = 28;

std::vector<std::string> splitNames(const std::string &names)
{
    std::vector<std::string> result;
    std::istringstream stream(names);
    for (std::string name; stream >> name;)
        result.push_back(name);
    return result;
}

std::string rangeProblem(long long minimum, long long maximum)
{
    return "a whole number from " + std::to_string(minimum) + " to " + std::to_string(maximum) + " is needed";
}

// The help text's lines, the first after `left` and the rest under it.
void appendHelp(std::string &out, const std::string &left, const std::string &help)
{
    out += "  " + left;
    std::size_t used = 2 + left.size();
    if (used + 1 > helpColumn) {
        out += '\n';
        used = 0;
    }
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        out += std::string(helpColumn - used, ' ') + line + '\n';
        used = 0;
    }
    if (help.empty())
        out += '\n';
}

}

OptionTable::OptionTable(std::string program, std::string synopsis, std::string summary)
    : m_program(std::move(program))
    , m_synopsis(std::move(synopsis))
    , m_summary(std::move(summary))
{
}

OptionTable &OptionTable::option(const std::string &names, const std::string &valueName,
                                 const std::string &help, Reader read)
{
    m_entries.push_back({splitNames(names), valueName, help, std::move(read)});
    return *this;
}

OptionTable &OptionTable::flag(const std::string &names, const std::string &help, bool *target)
{
    return option(names, {}, help, [target](const std::string &) {
        *target = true;
        return std::string();
    });
}

OptionTable &OptionTable::text(const std::string &names, const std::string &valueName,
                               const std::string &help, std::string *target)
{
    return option(names, valueName, help, [target](const std::string &value) {
        *target = value;
        return std::string();
    });
}

OptionTable &OptionTable::number(const std::string &names, const std::string &valueName,
                                 const std::string &help, int *target, int minimum, int maximum)
{
    return option(names, valueName, help, [=](const std::string &value) {
        const auto number = parseBoundedNumber(value, minimum, maximum);
        if (!number)
            return rangeProblem(minimum, maximum);
        *target = static_cast<int>(*number);
        return std::string();
    });
}

OptionTable &OptionTable::number(const std::string &names, const std::string &valueName,
                                 const std::string &help, long long *target, long long minimum,
                                 long long maximum)
{
    return option(names, valueName, help, [=](const std::string &value) {
        const auto number = parseBoundedNumber(value, minimum, maximum);
        if (!number)
            return rangeProblem(minimum, maximum);
        *target = *number;
        return std::string();
    });
}

OptionTable &OptionTable::milliseconds(const std::string &names, const std::string &valueName,
                                       const std::string &help, std::chrono::milliseconds *target,
                                       long long minimum, long long maximum)
{
    return option(names, valueName, help, [=](const std::string &value) {
        const auto number = parseBoundedNumber(value, minimum, maximum);
        if (!number)
            return rangeProblem(minimum, maximum);
        *target = std::chrono::milliseconds(*number);
        return std::string();
    });
}

OptionTable &OptionTable::address(const std::string &names, const std::string &valueName,
                                  const std::string &help, in_addr *target)
{
    return option(names, valueName, help, [target](const std::string &value) {
        const auto address = parseIpv4Address(value);
        if (!address)
            return std::string("an IPv4 address (four numbers 0..255, no leading zeros) is needed");
        *target = *address;
        return std::string();
    });
}

OptionTable &OptionTable::deviceAddress(const std::string &names, const std::string &valueName,
                                        const std::string &help, in_addr *target)
{
    return option(names, valueName, help, deviceAddressReader(target));
}

OptionTable::Reader OptionTable::deviceAddressReader(in_addr *target)
{
    return [target](const std::string &value) {
        const auto address = parseIpv4Address(value);
        if (!address)
            return std::string("an IPv4 address (four numbers 0..255, no leading zeros) is needed");
        if (!isDeviceAddress(*address))
            return std::string("not a device address (0.0.0.0, broadcast and multicast name no one device)");
        *target = *address;
        return std::string();
    };
}

OptionTable &OptionTable::mac(const std::string &names, const std::string &valueName, const std::string &help,
                              MacAddress *target)
{
    return option(names, valueName, help, macReader(target));
}

OptionTable::Reader OptionTable::macReader(MacAddress *target)
{
    return [target](const std::string &value) {
        const auto mac = parseMacAddress(value);
        if (!mac)
            return std::string("a MAC address (six hex pairs joined by \":\" or \"-\") is needed");
        *target = *mac;
        return std::string();
    };
}

OptionTable &OptionTable::positional(const std::string &valueName, const std::string &help, Reader read,
                                     int minimumCount, int maximumCount)
{
    m_positionalName = valueName;
    m_positionalHelp = help;
    m_positional = std::move(read);
    m_positionalMinimum = minimumCount;
    m_positionalMaximum = maximumCount;
    return *this;
}

OptionTable &OptionTable::required()
{
    if (!m_entries.empty())
        m_entries.back().isRequired = true;
    return *this;
}

OptionTable::Entry *OptionTable::find(const std::string &name)
{
    for (Entry &entry : m_entries) {
        if (std::find(entry.names.begin(), entry.names.end(), name) != entry.names.end())
            return &entry;
    }
    return nullptr;
}

bool OptionTable::wasGiven(const std::string &name) const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry &entry) {
        return entry.given && std::find(entry.names.begin(), entry.names.end(), name) != entry.names.end();
    });
}

OptionTable::Parsed OptionTable::fail(std::string problem)
{
    m_problem = std::move(problem);
    return Parsed::Invalid;
}

bool OptionTable::take(Entry &entry, const std::string &name, const std::string &value)
{
    const std::string problem = entry.read(value);
    if (!problem.empty()) {
        fail("bad value for " + name + " \"" + value + "\": " + problem);
        return false;
    }
    entry.given = true;
    return true;
}

OptionTable::Parsed OptionTable::parse(int argc, const char *const *argv)
{
    m_problem.clear();
    for (Entry &entry : m_entries)
        entry.given = false;
    int positionals = 0;
    bool optionsEnded = false;

    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && (argument == "-h" || argument == "--help"))
            return Parsed::Help;
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (!m_positional || positionals >= m_positionalMaximum)
                return fail("unexpected argument \"" + argument + "\"");
            const std::string problem = m_positional(argument);
            if (!problem.empty())
                return fail("bad " + m_positionalName + " \"" + argument + "\": " + problem);
            ++positionals;
            continue;
        }

        const std::size_t equals = argument.rfind("--", 0) == 0 ? argument.find('=') : std::string::npos;
        const std::string name = argument.substr(0, equals);
        Entry *entry = find(name);
        if (!entry)
            return fail("unknown option " + name);
        std::string value;
        if (entry->valueName.empty()) {
            if (equals != std::string::npos)
                return fail(name + " takes no value");
        } else if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return fail(name + " needs a value " + entry->valueName);
        }
        if (!take(*entry, name, value))
            return Parsed::Invalid;
    }

    for (const Entry &entry : m_entries) {
        if (entry.isRequired && !entry.given)
            return fail(entry.names.back() + " " + entry.valueName + " is needed");
    }
    if (m_positional && positionals < m_positionalMinimum)
        return fail(m_positionalName + " is needed");
    return Parsed::Run;
}

std::string OptionTable::usage() const
{
    std::string out = "usage: " + m_program + " " + m_synopsis + "\n";
    if (!m_summary.empty())
        out += m_summary + (m_summary.back() == '\n' ? "\n" : "\n\n");
    return out + optionLines();
}

std::string OptionTable::optionLines() const
{
    std::string out;
    if (m_positional && !m_positionalHelp.empty())
        appendHelp(out, m_positionalName, m_positionalHelp);
    for (const Entry &entry : m_entries) {
        std::string left;
        for (const std::string &name : entry.names)
            left += (left.empty() ? "" : ", ") + name;
        if (!entry.valueName.empty())
            left += " " + entry.valueName;
        appendHelp(out, left, entry.help);
    }
    appendHelp(out, "-h, --help", "show this help");
    return out;
}

void OptionTable::printUsage(std::FILE *stream) const
{
    std::fputs(usage().c_str(), stream);
}

std::optional<int> OptionTable::parseCommandLine(int argc, const char *const *argv)
{
    switch (parse(argc, argv)) {
    case Parsed::Run:
        return std::nullopt;
    case Parsed::Help:
        printUsage(stdout);
        return 0;
    case Parsed::Invalid:
        break;
    }
    // The summary is left out: the mistake should not scroll away.
    std::fprintf(stderr, "%s: %s\nusage: %s %s\n%s", m_program.c_str(), m_problem.c_str(), m_program.c_str(),
                 m_synopsis.c_str(), optionLines().c_str());
    return 2;
}

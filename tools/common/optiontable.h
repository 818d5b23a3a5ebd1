#pragma once

#include "macaddress.h"

#include "socketapi.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A tool's command line as a table: each option's names, value, help text
// and where its value goes. The same table reads the arguments and prints
// the usage, so the two cannot drift apart.
//
//   OptionTable options("bootloader-sim", "--mac MAC --address IP [options]",
//                       "Waits for the magic packet ...");
//   options.mac("--mac", "MAC", "the device's MAC address", &settings.mac).required();
//   options.number("--boot-attempts", "N", "BOOTP requests (10)", &settings.bootAttempts, 1, 1000);
//   if (const auto exitCode = options.parseCommandLine(argc, argv))
//       return *exitCode;
//
// "--name VALUE" and "--name=VALUE" both work; an option given twice keeps
// the last value, except where its reader collects them. "-h" and "--help"
// print the usage.
class OptionTable
{
public:
    // Takes one value; returns what is wrong with it, or "" when it is taken.
    using Reader = std::function<std::string(const std::string &value)>;

    enum class Parsed { Run, Help, Invalid };

    OptionTable(std::string program, std::string synopsis, std::string summary = {});

    // `names` holds one or more names separated by blanks ("-i --address").
    // Help text may span lines ("\n"); they are indented under the first.
    OptionTable &option(const std::string &names, const std::string &valueName, const std::string &help,
                        Reader read);
    OptionTable &flag(const std::string &names, const std::string &help, bool *target);
    OptionTable &text(const std::string &names, const std::string &valueName, const std::string &help,
                      std::string *target);
    OptionTable &number(const std::string &names, const std::string &valueName, const std::string &help,
                        int *target, int minimum, int maximum);
    OptionTable &number(const std::string &names, const std::string &valueName, const std::string &help,
                        long long *target, long long minimum, long long maximum);
    OptionTable &milliseconds(const std::string &names, const std::string &valueName,
                              const std::string &help, std::chrono::milliseconds *target,
                              long long minimum, long long maximum);
    OptionTable &address(const std::string &names, const std::string &valueName, const std::string &help,
                         in_addr *target);
    // An address one device can hold (see isDeviceAddress).
    OptionTable &deviceAddress(const std::string &names, const std::string &valueName, const std::string &help,
                               in_addr *target);
    static Reader deviceAddressReader(in_addr *target);
    static Reader macReader(MacAddress *target);
    // Each value that `readerFor` takes is added to `targets`: an option
    // that may be given once a device.
    template <typename Value>
    static Reader collecting(std::vector<Value> *targets, Reader (*readerFor)(Value *))
    {
        return [targets, readerFor](const std::string &text) {
            Value value{};
            const std::string problem = readerFor(&value)(text);
            if (problem.empty())
                targets->push_back(value);
            return problem;
        };
    }
    OptionTable &mac(const std::string &names, const std::string &valueName, const std::string &help,
                     MacAddress *target);
    // Arguments that are not options, in order, from `minimumCount` to
    // `maximumCount` of them. "--" ends the options.
    OptionTable &positional(const std::string &valueName, const std::string &help, Reader read,
                            int minimumCount = 1, int maximumCount = 1);
    // The option added last must be given.
    OptionTable &required();

    Parsed parse(int argc, const char *const *argv);
    // What made parse() return Invalid.
    const std::string &problem() const { return m_problem; }
    // Whether the last parse() met the option (any of its names).
    bool wasGiven(const std::string &name) const;

    std::string usage() const;
    void printUsage(std::FILE *stream) const;

    // parse() with the usual answers: the usage on standard output for
    // --help (exit code 0), "PROGRAM: problem" and the usage without the
    // summary on standard error for a bad command line (exit code 2).
    // Nothing when the program should run.
    std::optional<int> parseCommandLine(int argc, const char *const *argv);

private:
    struct Entry
    {
        std::vector<std::string> names;
        std::string valueName;
        std::string help;
        Reader read;
        bool isRequired = false;
        bool given = false;
    };

    Entry *find(const std::string &name);
    std::string optionLines() const;
    Parsed fail(std::string problem);
    bool take(Entry &entry, const std::string &name, const std::string &value);

    std::string m_program;
    std::string m_synopsis;
    std::string m_summary;
    std::vector<Entry> m_entries;
    std::string m_positionalName;
    std::string m_positionalHelp;
    Reader m_positional;
    int m_positionalMinimum = 0;
    int m_positionalMaximum = 0;
    std::string m_problem;
};

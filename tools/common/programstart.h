#pragma once

#include <string>
#include <vector>

// What every tool does first: standard output written line by line as it
// comes, with "\n" line ends on every system (the caller reads it through a
// pipe), and the command line as UTF-8, so that a path with non-ASCII letters
// survives on Windows too.
class ProgramStart
{
public:
    ProgramStart(int argc, char **argv);

    int count() const { return static_cast<int>(m_pointers.size()); }
    const char *const *arguments() const { return m_pointers.data(); }

private:
    std::vector<std::string> m_arguments;
    std::vector<const char *> m_pointers;
};

#include "programstart.h"

#include <cstdio>

ProgramStart::ProgramStart(int argc, char **argv)
    : m_arguments(argv, argv + argc)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    for (const std::string &argument : m_arguments)
        m_pointers.push_back(argument.c_str());
}

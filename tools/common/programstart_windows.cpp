#include "programstart.h"

#include "windowserror.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

ProgramStart::ProgramStart(int argc, char **argv)
{
    // The C runtime would turn "\n" into "\r\n"; the lines must read the same
    // as on Linux. Unbuffered: the runtime has no line buffering, and each
    // printf still goes out in one write.
    _setmode(_fileno(stdout), _O_BINARY);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // argv holds the ANSI code page's rendering, which loses letters that
    // page lacks; the wide command line holds them all.
    int count = 0;
    if (wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            m_arguments.push_back(utf8(wide[i]));
        LocalFree(wide);
    } else {
        m_arguments.assign(argv, argv + argc);
    }
    for (const std::string &argument : m_arguments)
        m_pointers.push_back(argument.c_str());
}

#include "flashreport.h"

#include <cstdio>

FlashReport::FlashReport(bool verbose)
    : m_verbose(verbose)
{
}

void FlashReport::info(const std::string &text) const
{
    if (m_verbose) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
}

void FlashReport::progress(std::size_t done, std::size_t total)
{
    print(total == 0 ? 0 : static_cast<int>(done * 100 / total));
}

void FlashReport::finish()
{
    print(100);
}

void FlashReport::print(int percent)
{
    if (percent <= m_lastPercent)
        return;
    m_lastPercent = percent;
    std::printf("%% Complete: %d%%\n", percent);
    std::fflush(stdout);
}

void FlashReport::error(const std::string &reason) const
{
    std::printf("ERROR: %s\n", reason.c_str());
    std::fflush(stdout);
}

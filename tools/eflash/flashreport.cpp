#include "flashreport.h"

#include <cstdio>

namespace {

std::string hexEscape(unsigned char byte)
{
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    return text;
}

// Only what could end or rewrite a line: our own texts hold none of it, a
// file name typed by the user might.
std::string withoutControlCharacters(const std::string &text)
{
    std::string result;
    result.reserve(text.size());
    for (const unsigned char byte : text)
        result += byte < 0x20 || byte == 0x7f ? hexEscape(byte) : std::string(1, char(byte));
    return result;
}

void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}

FlashReport::FlashReport(bool verbose, std::string prefix)
    : m_verbose(verbose)
    , m_prefix(std::move(prefix))
{
}

void FlashReport::info(const std::string &text) const
{
    if (m_verbose) {
        std::printf("%s%s\n", m_prefix.c_str(), withoutControlCharacters(text).c_str());
        std::fflush(stdout);
    }
}

void FlashReport::progress(int percent)
{
    print(percent);
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
    std::printf("%s%% Complete: %d%%\n", m_prefix.c_str(), percent);
    std::fflush(stdout);
}

void FlashReport::error(const std::string &reason) const
{
    std::printf("%sERROR: %s\n", m_prefix.c_str(), withoutControlCharacters(reason).c_str());
    std::fflush(stdout);
}

std::string deviceText(const std::string &text)
{
    std::string result;
    result.reserve(text.size());
    for (const unsigned char byte : text)
        result += byte < 0x20 || byte >= 0x7f || byte == '\\' ? hexEscape(byte) : std::string(1, char(byte));
    replaceAll(result, "ERROR", "\\x45RROR");
    replaceAll(result, "Complete:", "Complete\\x3a");
    return result;
}

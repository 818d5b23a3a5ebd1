#include "windowserror.h"

#include <windows.h>

std::string windowsErrorText(unsigned long code)
{
    char *text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                        nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string result = length > 0 && text ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!result.empty() && (result.back() == ' ' || result.back() == '.' || result.back() == '\r'
                               || result.back() == '\n'))
        result.pop_back();
    if (result.empty())
        result = "Windows error";
    return result + " (" + std::to_string(code) + ")";
}

std::wstring wide(const std::string &text)
{
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, result.data(), size);
    result.pop_back();
    return result;
}

std::string utf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.pop_back();
    return result;
}

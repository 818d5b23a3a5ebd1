#include "privileges.h"

#include "windowserror.h"

#include <windows.h>

#include <vector>

bool dropPrivileges(std::string *error)
{
    // Windows has no capabilities; the nearest are the token's privileges
    // (SeDebugPrivilege, SeBackupPrivilege, ...), which an elevated run holds
    // and the tools never need: removed for good. Membership of the
    // Administrators group stays with an elevated run. Traversing folders
    // (SeChangeNotifyPrivilege) every process keeps.
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, &token)) {
        *error = "cannot open the process token: " + windowsErrorText(GetLastError());
        return false;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size + sizeof(TOKEN_PRIVILEGES));
    bool dropped = GetTokenInformation(token, TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
    if (dropped) {
        auto *privileges = reinterpret_cast<TOKEN_PRIVILEGES *>(buffer.data());
        LUID traverse{};
        LookupPrivilegeValueW(nullptr, L"SeChangeNotifyPrivilege", &traverse);
        DWORD kept = 0;
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID luid = privileges->Privileges[i].Luid;
            if (luid.LowPart == traverse.LowPart && luid.HighPart == traverse.HighPart)
                continue;
            privileges->Privileges[kept].Luid = luid;
            privileges->Privileges[kept].Attributes = SE_PRIVILEGE_REMOVED;
            ++kept;
        }
        privileges->PrivilegeCount = kept;
        // Succeeds with ERROR_NOT_ALL_ASSIGNED when some were not removed.
        dropped = kept == 0
            || (AdjustTokenPrivileges(token, FALSE, privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS);
    }
    if (!dropped)
        *error = "cannot give up the process token's privileges: " + windowsErrorText(GetLastError());
    CloseHandle(token);
    return dropped;
}

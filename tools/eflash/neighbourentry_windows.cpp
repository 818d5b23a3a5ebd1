#include "neighbourentry.h"

#include "windowserror.h"

#include <iphlpapi.h>
#include <windows.h>

#include <cstring>

namespace {

// Wine's CreateIpNetEntry2 ends the process instead of failing.
bool underWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}

bool addNeighbourEntry(in_addr address, const MacAddress &mac, const std::string &interfaceName,
                       std::string *problem)
{
    if (underWine()) {
        *problem = "Wine cannot add ARP entries";
        return false;
    }
    MIB_IPNET_ROW2 row{};
    // The route names the interface by its alias, the name users see.
    if (ConvertInterfaceAliasToLuid(wide(interfaceName).c_str(), &row.InterfaceLuid) != NO_ERROR) {
        *problem = "cannot find the interface " + interfaceName;
        return false;
    }
    row.Address.Ipv4.sin_family = AF_INET;
    row.Address.Ipv4.sin_addr = address;
    std::memcpy(row.PhysicalAddress, mac.data(), mac.size());
    row.PhysicalAddressLength = static_cast<ULONG>(mac.size());
    row.State = NlnsReachable;
    DWORD result = CreateIpNetEntry2(&row);
    if (result == ERROR_OBJECT_ALREADY_EXISTS)
        result = SetIpNetEntry2(&row);
    if (result == NO_ERROR)
        return true;
    *problem = result == ERROR_ACCESS_DENIED ? "needs administrator rights" : windowsErrorText(result);
    return false;
}

#include "privileges.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool dropPrivileges(std::string *error)
{
    // A set-user-ID root program becomes the user who started it; without
    // that, root would keep its capabilities past any exec.
    if (geteuid() != getuid() && setresuid(getuid(), getuid(), getuid()) != 0) {
        *error = std::string("cannot give up the set-user-ID: ") + std::strerror(errno);
        return false;
    }
    // Ambient capabilities would come back into the effective set on exec.
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    // Effective, permitted and inheritable all empty: nothing can be raised
    // again. Called directly, so the tools need no libcap.
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, data) != 0) {
        *error = std::string("cannot drop the capabilities: ") + std::strerror(errno);
        return false;
    }
    return true;
}

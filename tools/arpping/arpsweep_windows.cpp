#include "arpsweep.h"

#include <cstdio>

int sweepMain(int, const char *const *)
{
    // SendARP asks one address at a time, seconds each; a sweep of a /16
    // would take hours. Only zudiruv-fleet sweeps, and it runs on Linux.
    std::fprintf(stderr, "arpping: an ARP sweep needs raw ARP, which Windows does not offer; "
                         "ask each address with -n and -w instead\n");
    return 1;
}

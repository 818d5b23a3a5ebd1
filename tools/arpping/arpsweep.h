#pragma once

#include <chrono>
#include <string>
#include <vector>

// arpping.exe --sweep: asks every address of the given ranges that lies on a
// directly attached Ethernet link with raw ARP requests, all at once, and
// prints one line per address that answered:
//   Reply from 00:11:22:33:44:55 for 10.0.5.7 on eth0
// then, for each run of addresses it asked, one line
//   Swept 10.0.5.0-10.0.5.255 on eth0
// An address that is not on such a link (routed, loopback, this host's own)
// is not asked and falls in no "Swept" line. Exit code 0 when the sweep ran,
// 1 when raw ARP is not permitted (needs root or cap_net_raw) or failed,
// 2 for a bad command line. Windows offers no raw ARP: there it always
// refuses, exit 1.
int sweepMain(int argc, const char *const *argv);

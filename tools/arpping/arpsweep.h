#pragma once

#include <chrono>
#include <string>
#include <vector>

// arpping.exe --sweep: asks every address of the given ranges that lies on a
// directly attached Ethernet link with raw ARP requests, and prints one line
// per address that answered, as its answer comes:
//   Reply from 00:11:22:33:44:55 for 10.0.5.7 on eth0
// With --port PORT each host that answered is asked at once for a TCP
// connection on PORT (a bare SYN to its MAC address, taking no entry in the
// kernel's neighbour table), and one line per such host follows:
//   Port 80 open at 10.0.5.7 on eth0        (it answered SYN-ACK)
//   Port 80 closed at 10.0.5.8 on eth0      (RST)
//   Port 80 silent at 10.0.5.9 on eth0      (nothing within 1.5 s)
// then, for each run of addresses it asked, one line
//   Swept 10.0.5.0-10.0.5.255 on eth0
// The requests go out in paced bursts with the replies read in between, in
// two rounds (more while replies were lost for want of buffer), each
// followed by half of WAIT_MS for late answers. The receive buffer is sized
// for the whole range where the privileges allow; where they do not, it
// says so on standard error and paces to fit.
// An address that is not on such a link (routed, loopback, this host's own)
// is not asked and falls in no "Swept" line. Exit code 0 when the sweep ran,
// 1 when raw ARP is not permitted (needs root or cap_net_raw) or failed,
// 2 for a bad command line. Windows offers no raw ARP: there it always
// refuses, exit 1.
int sweepMain(int argc, const char *const *argv);

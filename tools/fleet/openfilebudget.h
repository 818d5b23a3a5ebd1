#pragma once

// How many devices may be in flight at once without the process running out
// of file descriptors: each holds up to seven sockets (six probe requests and
// the upload) and the three pipes of an ARP lookup.
int devicesInFlightLimit(int wanted);

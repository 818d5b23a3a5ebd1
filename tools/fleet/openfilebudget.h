#pragma once

// How many devices may be in flight at once without the process running out
// of file descriptors: each holds up to seven sockets (six probe requests and
// the upload) and the three pipes of an ARP lookup.
int devicesInFlightLimit(int wanted);

// How many connects the scan's first stage may have open at once, with room
// kept for the probes that follow and everything else.
int sweepConnectsLimit();

// Raises the soft open-file limit towards the hard one, as far as a scan can
// use; called once at start.
void raiseOpenFileLimit();

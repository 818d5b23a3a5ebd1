#pragma once

#include <string>

// Gives up every privilege the tool was started with (file capabilities,
// root's capabilities, a set-user-ID), for good. The tools call it once their
// privileged sockets are open and before they read a packet or a file, as
// ping does, so that nothing a device or a file sends them meets a
// privileged process. `error` gets a reason phrased for the user.
bool dropPrivileges(std::string *error);

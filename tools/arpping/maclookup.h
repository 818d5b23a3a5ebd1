#pragma once

#include "socketapi.h"

#include <chrono>

// Sends `count` probes for `address`, one a second, each waiting up to
// `wait`, and prints a "Reply from MAC ..." or "No response ..." line for
// each. The exit code: 0 when any probe was answered, 1 when none was.
int lookUpMac(in_addr address, int count, std::chrono::milliseconds wait);

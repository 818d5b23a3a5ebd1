#pragma once

#include "socketapi.h"

#include <optional>
#include <string>

// Four decimal numbers 0..255 joined by dots, nothing else: no leading zeros
// (some readers take "010" as octal, so the text would name two devices), no
// hex, no short forms like "127.1", no blanks.
std::optional<in_addr> parseIpv4Address(const std::string &text);

// Dotted decimal.
std::string addressText(in_addr address);

// False for the addresses no single device can hold: 0.0.0.0, the limited
// broadcast 255.255.255.255 and multicast (224.0.0.0/4).
bool isDeviceAddress(in_addr address);

bool isLoopbackAddress(in_addr address);

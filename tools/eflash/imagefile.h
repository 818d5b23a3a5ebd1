#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Reads a firmware image of at most `limit` bytes. Only a regular file is
// taken, its size is checked before a byte is read, and no more than the
// limit ever comes into memory. `error` gets a reason phrased for the user.
std::optional<std::vector<std::uint8_t>> readImageFile(const std::string &path, std::size_t limit,
                                                       std::string *error);

// The file name that ends `path`; on Windows a backslash separates too.
std::string imageFileName(const std::string &path);

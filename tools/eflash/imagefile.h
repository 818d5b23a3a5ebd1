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

// Why `path` cannot be flashed, told from its directory entry alone (missing,
// a directory, not a regular file, more than `limit` bytes); empty when it
// may be. readImageFile() checks all of it again on the open file.
std::string imageFileRefusal(const std::string &path, std::size_t limit);

// The file name that ends `path`; on Windows a backslash separates too.
std::string imageFileName(const std::string &path);

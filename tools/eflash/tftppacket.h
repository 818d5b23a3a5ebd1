#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// TFTP packets (RFC 1350).
namespace tftp {

enum Opcode : std::uint16_t { ReadRequest = 1, WriteRequest = 2, Data = 3, Ack = 4, Error = 5 };

enum ErrorCode : std::uint16_t {
    NotDefined = 0,
    AccessViolation = 2,
    IllegalOperation = 4,
    UnknownTransferId = 5,
};

constexpr std::size_t blockSize = 512;
constexpr std::uint16_t serverPort = 69;

struct ReadRequestFields
{
    std::string fileName;
    std::string mode;
};

std::uint16_t opcodeOf(const std::vector<std::uint8_t> &packet);
// The 16-bit field after the opcode: block number or error code.
std::uint16_t numberOf(const std::vector<std::uint8_t> &packet);
// The NUL-ended text of an ERROR packet.
std::string errorMessageOf(const std::vector<std::uint8_t> &packet);
std::optional<ReadRequestFields> parseReadRequest(const std::vector<std::uint8_t> &packet);

std::vector<std::uint8_t> makeData(std::uint16_t block, const std::uint8_t *bytes, std::size_t size);
std::vector<std::uint8_t> makeError(std::uint16_t code, const std::string &message);

}

#include "sessionsummary.h"

#include "ipv4address.h"

#include <cstdio>
#include <fstream>

void printSummary(const BootLoaderSim::Result &result)
{
    std::string duplicates;
    for (int block : result.duplicateBlocks)
        duplicates += (duplicates.empty() ? "" : ",") + std::to_string(block);
    std::printf("result=%s\nreason=%s\nbytes=%zu\nblocks=%d\nlast_block_bytes=%zu\n"
                "duplicate_blocks=%s\nstray_packets=%d\nmagic_packets=%d\nforeign_packets=%d\n"
                "bootp_requests=%d\nassigned_address=%s\nserver_address=%s\nboot_file=%s\n"
                "transfer_seconds=%.3f\n",
                BootLoaderSim::outcomeName(result.outcome), result.reason.c_str(), result.image.size(),
                result.blocks, result.lastBlockSize, duplicates.c_str(), result.strayPackets,
                result.magicPackets, result.foreignPackets, result.bootRequests,
                addressText(result.assignedAddress).c_str(), addressText(result.serverAddress).c_str(),
                result.bootFile.c_str(), result.transferSeconds);
}

bool writeImage(const std::string &path, const std::vector<std::uint8_t> &image)
{
    std::ofstream output(path, std::ios::binary | std::ios::trunc);
    output.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
    return static_cast<bool>(output);
}

int exitCodeOf(BootLoaderSim::Result::Outcome outcome)
{
    switch (outcome) {
    case BootLoaderSim::Result::Outcome::Received:
        return 0;
    case BootLoaderSim::Result::Outcome::Aborted:
        return 3;
    default:
        return 1;
    }
}

#pragma once

#include "flashlink.h"
#include "bootpmessage.h"
#include "flashobserver.h"
#include "tftptransfer.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One device to flash: its address, MAC address and image, and the name the
// boot loader is told to ask for.
struct FlashTarget
{
    in_addr device{};
    MacAddress mac{};
    std::vector<std::uint8_t> image;
    std::string bootFile;
};

// The host side of one device's boot-loader update on a shared link: magic
// packets until its boot loader asks for an address, the BOOTP reply, and
// its own TFTP transfers, each with its own retry clock. Every wait is
// bounded.
//
// A read request from a new port starts a transfer beside the running ones
// rather than replacing them (RFC 1350's transfer identifiers): a device
// that rebooted gets its image from the start, and a forged request from the
// device's address cannot stop the real transfer. The device is flashed
// when any of its transfers has every block acknowledged.
class DeviceSession
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds magicInterval{500};
    // The whole session from its start, boot-loader wait included, whatever
    // the device does.
    static constexpr std::chrono::minutes sessionLimit{15};
    // Transfers one device may have at once; a flood of requests from its
    // address gets refusals, not memory.
    static constexpr std::size_t maximumTransfers = 4;

    DeviceSession(std::size_t index, FlashTarget target, FlashLink &link, FlashObserver &observer);

    // Before start(), while the flasher may still change the ARP table.
    void prepareNeighbourTable();
    void setImage(std::vector<std::uint8_t> image) { m_target.image = std::move(image); }
    void start(Clock::time_point now);
    // Sends what is due and ends the session when a limit has passed.
    void tick(Clock::time_point now);
    Clock::time_point nextWake() const;
    // False when the request is not from this device's boot loader.
    bool handleBootRequest(const BootpMessage &request, Clock::time_point now);
    // Another server's BOOTP reply to this device's MAC address, from `server`.
    void noteForeignBootReply(in_addr server);
    void handleReadRequest(const sockaddr_in &from, const std::string &fileName, Clock::time_point now);
    void handleTransferPackets(Clock::time_point now, int batch);
    // Ends the session unless it has ended already.
    void fail(const std::string &reason);

    bool isDone() const { return m_phase == Phase::Done; }
    bool flashed() const { return m_flashed; }
    const FlashTarget &target() const { return m_target; }
    void appendTransferDescriptors(std::vector<SocketHandle> &descriptors) const;

private:
    enum class Phase { WaitingForBootLoader, WaitingForRequest, Transferring, Done };

    void sendMagicPacket();
    // False when a unicast reply cannot reach the device.
    bool teachNeighbourTable();
    void finish(Clock::time_point now, const TftpTransfer &transfer);
    // Drops the transfers that failed; the session fails with the last of
    // them.
    void dropFailedTransfers();
    FlashObserver::Progress progress() const;

    std::size_t m_index;
    FlashTarget m_target;
    FlashLink &m_link;
    FlashObserver &m_observer;
    std::vector<std::unique_ptr<TftpTransfer>> m_transfers;
    int m_droppedRetransmissions = 0;
    std::size_t m_droppedAcknowledged = 0;
    std::string m_transferFailure;
    bool m_unconfirmed = false;
    std::optional<in_addr> m_foreignBootServer;
    Phase m_phase = Phase::WaitingForBootLoader;
    Clock::time_point m_start;
    Clock::time_point m_bootLoaderDeadline;
    Clock::time_point m_requestDeadline = Clock::time_point::max();
    Clock::time_point m_sessionEnd;
    Clock::time_point m_nextMagic;
    int m_magicPackets = 0;
    std::optional<bool> m_neighbourTaught;
    bool m_flashed = false;
};

#pragma once

#include "linkimpairment.h"
#include "macaddress.h"

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The device side of an Ethernet boot-loader update, for tests and demos:
// waits for the magic packet meant for its MAC address (UDP port 9), asks for
// an address and an image name by BOOTP, fetches the image by TFTP and keeps
// what it received. On request it loses, repeats or delays packets, or
// answers with a TFTP error, the way a real link or device may.
//
// On a loopback address, where nothing can be broadcast, the BOOTP request
// goes to 127.0.0.1 and the reply is taken as a unicast.
//
// Each port is bound to the device's own address, so several simulated
// devices can run side by side on one host. Every wait is bounded, and
// stop() ends a session early from any thread.
class BootLoaderSim
{
public:
    using Milliseconds = std::chrono::milliseconds;

    struct Settings
    {
        MacAddress mac{};
        // The device's own address; it must be one of this host's.
        in_addr address{};
        // Found from `address` when empty.
        std::string interfaceName;
        // Where BOOTP requests go: broadcast when unset, 127.0.0.1 on loopback.
        in_addr bootServer{};
        std::string serverName = "stellaris";
        bool broadcastFlag = false;
        // Answers no ARP until BOOTP gave it its address, as a boot loader
        // that has none yet; changes the interface's arp_ignore for that
        // time, so it needs root.
        bool arpOnceAddressed = false;

        Milliseconds magicWait{60000};
        Milliseconds bootRetryInterval{1000};
        int bootAttempts = 10;
        Milliseconds tftpTimeout{1000};
        int tftpRetries = 5;
        // After the last ACK: how long to stay and acknowledge a repeated
        // last block, in case our ACK was lost.
        Milliseconds dally{1200};
        std::size_t maximumImageSize = 64 * 1024 * 1024;
        // Writing each block to flash before acknowledging it: the pace of a
        // real device.
        Milliseconds blockWrite{0};
        // From this block on, each takes `laterBlockWrite` instead: a device
        // or link that turns slow mid-transfer. 0 leaves it off.
        int slowerFromBlock = 0;
        Milliseconds laterBlockWrite{0};

        // Misbehaviour on request; 0 leaves it off.
        int ignoreMagicPackets = 0;
        int ignoreBootReplies = 0;
        // From the magic packet to the first BOOTP request (the reboot).
        Milliseconds bootDelay{0};
        // Pretends to lose the first arrival of every block numbered a multiple of this.
        int dropDataEvery = 0;
        bool duplicateAcks = false;
        // Holds back the ACK of every block numbered a multiple of this.
        int slowAckEvery = 0;
        Milliseconds slowAckDelay{0};
        // Answers this block with a TFTP error instead of an ACK.
        int errorAtBlock = 0;
        std::uint16_t errorCode = 3;
        std::string errorMessage = "Disk full";
        // Falls silent (as if switched off) once this block has arrived.
        int silentAfterBlock = 0;
        // Takes the last block but never acknowledges it and keeps nothing,
        // as a boot loader that drops the image and starts its old firmware.
        bool dropFinalAck = false;
        // A poor link: every packet of the session, each way.
        LinkImpairment::Settings link;

        // Skips magic packet and BOOTP and reads `tftpFile` from
        // `tftpServer`:69 at once, to compare against a plain TFTP server.
        bool tftpOnly = false;
        in_addr tftpServer{};
        std::string tftpFile;
    };

    struct Result
    {
        enum class Outcome { Received, Aborted, Failed, Stopped };
        Outcome outcome = Outcome::Failed;
        std::string reason;
        std::vector<std::uint8_t> image;
        in_addr assignedAddress{};
        in_addr serverAddress{};
        std::string bootFile;
        int magicPackets = 0;
        int foreignPackets = 0;
        int bootRequests = 0;
        int blocks = 0;
        std::size_t lastBlockSize = 0;
        // Every block that arrived again after we had taken it.
        std::vector<int> duplicateBlocks;
        int strayPackets = 0;
        double transferSeconds = 0;
    };

    explicit BootLoaderSim(Settings settings);
    ~BootLoaderSim();
    BootLoaderSim(const BootLoaderSim &) = delete;
    BootLoaderSim &operator=(const BootLoaderSim &) = delete;

    // One session in the calling thread.
    Result run();
    // One session in a thread of its own; from that thread, `onEntered` is
    // called when the magic packet has started the boot loader and
    // `onFinished` when the session ends.
    void start(std::function<void(const Result &)> onFinished = {}, std::function<void()> onEntered = {});
    void stop();
    void wait();
    // For the next session; waits for a running one to end first.
    void setSettings(const Settings &settings);
    bool isRunning() const { return m_running; }
    // The last session's outcome; complete once it has finished.
    Result result() const;

    static const char *outcomeName(Result::Outcome outcome);

private:
    Result runSession(const std::function<void()> &onEntered);

    Settings m_settings;
    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_running{false};
    mutable std::mutex m_resultMutex;
    Result m_result;
};

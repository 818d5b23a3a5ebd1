#pragma once

#include "bootloadersim.h"
#include "bootpackets.h"
#include "linkimpairment.h"

#include <atomic>
#include <functional>
#include <string>

class DeviceSocket;

// One boot-loader session, in the calling thread: the magic packet, BOOTP,
// the TFTP download and the dally after it. Fills `result` as it goes and
// ends by throwing SessionEnd, or by returning once the image is in.
class BootSession
{
public:
    BootSession(const BootLoaderSim::Settings &settings, const std::atomic<bool> &stop,
                BootLoaderSim::Result &result, std::function<void()> onEntered);

    void run();

private:
    using Milliseconds = BootLoaderSim::Milliseconds;
    using Outcome = BootLoaderSim::Result::Outcome;

    std::string interfaceOf(in_addr address) const;
    void pause(Milliseconds duration) const;
    void waitForMagicPacket();
    void askForAddress(bool loopback);
    void fetchImage();
    // Takes one DATA packet of the transfer; true once the last block is in.
    bool takeBlock(const DeviceSocket &socket, const bootpackets::Bytes &packet);
    void acknowledge(const DeviceSocket &socket, std::uint16_t block);
    void dally(const DeviceSocket &socket, std::uint16_t lastBlock);

    const BootLoaderSim::Settings &m_settings;
    const std::atomic<bool> &m_stop;
    BootLoaderSim::Result &m_result;
    std::function<void()> m_onEntered;
    std::string m_device;
    LinkImpairment m_link;

    // The transfer: the server's port once its first block came, what we
    // sent last (resent on a timeout) and where to.
    sockaddr_in m_serverTid{};
    bool m_haveServerTid = false;
    bootpackets::Bytes m_lastSent;
    sockaddr_in m_lastDestination{};
    std::uint16_t m_expectedBlock = 1;
    std::vector<int> m_droppedBlocks;
};

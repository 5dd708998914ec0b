#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// What the task start-up and the engine tear-down need of the UDP server. The
// UDP transport provides the implementation through a factory; without one
// the engine runs without the UDP side.
struct TUdpServerSettings {
    std::string rendezvousHost;
    uint16_t rendezvousPort = 82;
    uint32_t keepAliveSeconds = 52;
    uint32_t timeoutSeconds = 30;
    uint16_t localPort = 8000;
    uint32_t localAddress = 0;
    uint8_t identity[8] = {};
};

class IUdpServer {
public:
    virtual ~IUdpServer() = default;
    // The last task is gone: the server may go quiet until the next start-up.
    virtual void NoTaskLeft() = 0;
    // This host's public IPv4 as the rendezvous server reported it, or
    // 0xFFFFFFFF while none is known.
    virtual uint32_t PublicAddress() { return 0xFFFFFFFFu; }
};

using TUdpServerFactory = std::function<std::unique_ptr<IUdpServer>(const TUdpServerSettings &)>;

void SetUdpServerFactory(TUdpServerFactory factory);
// Starts the server unless one runs (under the registry lock).
void EnsureUdpServer(const TUdpServerSettings &settings);
void NotifyUdpServerNoTaskLeft();
// The running server's public address, 0xFFFFFFFF without one.
uint32_t UdpPublicAddress();
// Stops and destroys the server (engine shut-down).
void DestroyUdpServer();

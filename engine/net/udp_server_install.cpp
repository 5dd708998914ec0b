#include <memory>

#include "engine/net/udp_server.h"

namespace {
// The engine's hold on the server between start-up and shut-down; the
// server object itself outlives it.
class TUdpServerRun : public IUdpServer {
public:
    explicit TUdpServerRun(const TUdpServerSettings &settings) { QUInternalServer::Instance().StartServer(settings); }
    ~TUdpServerRun() override { QUInternalServer::Instance().StopServer(); }
    void NoTaskLeft() override { QUInternalServer::Instance().Reset(); }
    uint32_t PublicAddress() override { return QUInternalServer::Instance().PublicAddress(); }
};
} // namespace

void InstallUdpServerFactory()
{
    SetUdpServerFactory(
        [](const TUdpServerSettings &settings) -> std::unique_ptr<IUdpServer> {
            return std::make_unique<TUdpServerRun>(settings);
        });
}

#include "engine/core/udp_server_slot.h"

#include "engine/base/engine_locks.h"

namespace {
TUdpServerFactory &Factory()
{
    static TUdpServerFactory factory;
    return factory;
}

std::unique_ptr<IUdpServer> &Server()
{
    static std::unique_ptr<IUdpServer> server;
    return server;
}
} // namespace

void SetUdpServerFactory(TUdpServerFactory factory)
{
    QAutoLock hold(RegistryLock());
    Factory() = std::move(factory);
}

void EnsureUdpServer(const TUdpServerSettings &settings)
{
    QAutoLock hold(RegistryLock());
    if (!Server() && Factory())
        Server() = Factory()(settings);
}

void NotifyUdpServerNoTaskLeft()
{
    QAutoLock hold(RegistryLock());
    if (Server())
        Server()->NoTaskLeft();
}

uint32_t UdpPublicAddress()
{
    QAutoLock hold(RegistryLock());
    return Server() ? Server()->PublicAddress() : 0xFFFFFFFFu;
}

void DestroyUdpServer()
{
    std::unique_ptr<IUdpServer> stopping;
    {
        QAutoLock hold(RegistryLock());
        stopping = std::move(Server());
    }
    stopping.reset();
}

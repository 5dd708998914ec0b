#include "engine/net/listening_service.h"

#include "engine/base/engine_clock.h"
#include "engine/base/engine_locks.h"
#include "engine/core/engine_state.h"
#include "engine/net/lan_group.h"
#include "engine/net/listen_settings.h"
#include "engine/net/local_address.h"
#include "engine/net/stream_transport.h"

namespace {
constexpr uint32_t kAddressCheckSeconds = 180;
constexpr const char *kDisabledText = "Service Disabled!";
} // namespace

QListeningService &ListeningService()
{
    // Never destroyed: a task thread may still refresh during exit.
    static QListeningService *service = new QListeningService;
    return *service;
}

std::string QListeningService::StatusText()
{
    QAutoLock hold(RegistryLock());
    return statusText;
}

void QListeningService::Publish(uint32_t address, int32_t port, const std::string &text)
{
    publishedAddress = address;
    publishedPort = port;
    statusText = text;
}

void QListeningService::CloseUdpListener()
{
    const bool wasOpen = udpListener.HasHandle();
    udpListener.Close();
    QStreamTransport *transport = StreamTransport();
    if (wasOpen && engineIdle.load() && transport != nullptr)
        transport->Reset();
}

void QListeningService::Stop(bool dropPending)
{
    QAutoLock hold(RegistryLock());
    tcpListener.Close();
    CloseUdpListener();
    Publish(0, 0, std::string());
    if (dropPending)
        pending.clear();
    if (QLanGroup *group = LanGroup())
        group->Leave();
}

bool QListeningService::Refresh(TListenerStatus &task)
{
    QAutoLock hold(RegistryLock());
    if (!IsListenEnabled()) {
        if (tcpListener.HasHandle())
            Stop(true);
        if (task.address != 0 || task.port != 0) {
            task.address = 0;
            task.port = 0;
            task.text = kDisabledText;
        }
        return false;
    }
    const uint32_t now = EngineSeconds();
    if (tcpListener.HasHandle() && now - lastAddressCheck >= kAddressCheckSeconds) {
        lastAddressCheck = now;
        if (PickLocalAddress() != tcpListener.LocalAddress())
            Stop(true);
    }
    if (!tcpListener.HasHandle()) {
        if (!tcpListener.Listen(EffectiveListenPort()))
            return false;
        lastAddressCheck = now;
        Publish(tcpListener.LocalAddress(), static_cast<int32_t>(tcpListener.LocalPort()),
                tcpListener.LocalDotted());
        CloseUdpListener();
    }
    const uint32_t address = publishedAddress.load();
    const int32_t port = publishedPort.load();
    QStreamTransport *transport = StreamTransport();
    if (transport != nullptr && (address != toldAddress || port != toldPort)) {
        transport->SetLocalAddress(address, port);
        toldAddress = address;
        toldPort = port;
    }
    if (transport != nullptr && !udpListener.HasHandle() && !engineIdle.load())
        udpListener.Listen(port, address, EngineId());
    if (task.address != address || task.port != port) {
        task.address = address;
        task.port = port;
        task.text = statusText + " : " + std::to_string(port);
    }
    QLanGroup *group = LanGroup();
    if (group != nullptr && !group->IsJoined() && !group->Join())
        return false;
    return true;
}

#include "engine/net/tcp_socket_api.h"

#include <atomic>

namespace {
class QSystemTcpApi : public QSocketApi {
public:
    int32_t Socket() override { return platform::OsTcpSocket(); }
    int32_t Bind(int32_t handle, const TSockAddr &address) override { return platform::OsBind(handle, address); }
    int32_t Listen(int32_t handle, int32_t backlog) override { return platform::OsListen(handle, backlog); }
    int32_t Accept(int32_t handle, TSockAddr *peer) override { return platform::OsAccept(handle, peer); }
    int32_t Connect(int32_t handle, const TSockAddr &address) override
    {
        return platform::OsConnect(handle, address);
    }
    int32_t Send(int32_t handle, const uint8_t *data, int32_t length) override
    {
        return static_cast<int32_t>(platform::OsSend(handle, data, static_cast<size_t>(length)));
    }
    int32_t Recv(int32_t handle, uint8_t *buffer, int32_t length) override
    {
        return static_cast<int32_t>(platform::OsRecv(handle, buffer, static_cast<size_t>(length)));
    }
    int32_t Wait(int32_t handle, TWaitFor what, int32_t timeoutMs) override
    {
        return platform::OsWait(handle, what, timeoutMs);
    }
    int32_t GetSockName(int32_t handle, TSockAddr *local) override { return platform::OsGetSockName(handle, local); }
    int32_t PendingError(int32_t handle) override { return platform::OsPendingError(handle); }
    int32_t SetReuseAddress(int32_t handle) override { return platform::OsSetReuseAddress(handle); }
    int32_t SetReceiveBuffer(int32_t handle, int32_t bytes) override
    {
        return platform::OsSetReceiveBuffer(handle, bytes);
    }
    int32_t Close(int32_t handle) override { return platform::OsClose(handle); }
    int32_t LastError() override { return platform::LastSocketError(); }
};

std::atomic<QSocketApi *> replaced{nullptr};
} // namespace

QSocketApi &TcpSocketApi()
{
    // Never destroyed: sockets closed during exit still call through it.
    static QSystemTcpApi *systemApi = new QSystemTcpApi;
    QSocketApi *api = replaced.load();
    return api != nullptr ? *api : *systemApi;
}

void ReplaceTcpSocketApi(QSocketApi *replacement)
{
    replaced = replacement;
}

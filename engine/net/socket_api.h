#pragma once
#include <cstdint>

#include "platform/socket_os.h"

using TSockAddr = platform::SocketAddress;
using TWaitFor = platform::WaitFor;

// The socket calls QSocket is written against. The system's TCP sockets and
// the engine's stream transport over UDP both provide them, with the same
// return conventions: -1 on failure and the Winsock number in LastError().
class QSocketApi {
public:
    virtual ~QSocketApi() = default;
    virtual int32_t Socket() = 0;
    virtual int32_t Bind(int32_t handle, const TSockAddr &address) = 0;
    virtual int32_t Listen(int32_t handle, int32_t backlog) = 0;
    // A connection waiting on a listener, or -1 with 10035 when none is.
    virtual int32_t Accept(int32_t handle, TSockAddr *peer) = 0;
    // Non-blocking: 10035 means the connection is under way.
    virtual int32_t Connect(int32_t handle, const TSockAddr &address) = 0;
    virtual int32_t Send(int32_t handle, const uint8_t *data, int32_t length) = 0;
    virtual int32_t Recv(int32_t handle, uint8_t *buffer, int32_t length) = 0;
    // 1 ready, 0 time-out, -1 failure; timeoutMs < 0 waits without limit.
    virtual int32_t Wait(int32_t handle, TWaitFor what, int32_t timeoutMs) = 0;
    virtual int32_t GetSockName(int32_t handle, TSockAddr *local) = 0;
    // The Winsock number of a connect that failed, 0 while none did.
    virtual int32_t PendingError(int32_t handle) = 0;
    // Options that only mean something for TCP; others accept and ignore them.
    virtual int32_t SetReuseAddress(int32_t handle) = 0;
    virtual int32_t SetReceiveBuffer(int32_t handle, int32_t bytes) = 0;
    virtual int32_t Close(int32_t handle) = 0;
    virtual int32_t LastError() = 0;
    // A system handle that polls readable when the socket may have data, for
    // waiting on many sockets at once; -1 when there is none.
    virtual int32_t WaitHandle(int32_t) { return -1; }
};

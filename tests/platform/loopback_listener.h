#pragma once
// A TCP listener on 127.0.0.1, at a port the system picks, that never
// accepts: connections complete into its backlog and hear nothing.
#include <cstdint>

#include "platform/socket_os.h"

class TLoopbackListener {
public:
    TLoopbackListener()
    {
        fd = platform::OsTcpSocket();
        platform::SocketAddress address{};
        address.ip = 0x0100007F; // 127.0.0.1 in network order on this little-endian machine
        if (fd < 0 || platform::OsBind(fd, address) != 0 || platform::OsListen(fd, 16) != 0 ||
            platform::OsGetSockName(fd, &address) != 0) {
            Close();
            return;
        }
        port = address.port;
    }
    ~TLoopbackListener() { Close(); }
    TLoopbackListener(const TLoopbackListener &) = delete;
    TLoopbackListener &operator=(const TLoopbackListener &) = delete;

    bool Listening() const { return fd >= 0; }
    uint16_t Port() const { return port; }
    void Close()
    {
        if (fd >= 0)
            platform::OsClose(fd);
        fd = -1;
    }

private:
    int fd = -1;
    uint16_t port = 0;
};

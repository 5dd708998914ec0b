#pragma once
// Datagrams in batches (recvmmsg/sendmmsg): one system call moves many, for
// servers that answer tens of thousands of datagrams a second.
#include <cstddef>
#include <cstdint>

#include "platform/socket_os.h"

namespace platform {

// One datagram of a batch. Receiving: data and capacity name the buffer,
// length and peer tell what arrived (cut to capacity). Sending: data and
// length go to peer, from the local address from (network order; 0: the
// socket's own). Every address of 127.0.0.0/8 is local, so one loopback
// socket can speak as many hosts.
struct DatagramSlot {
    uint8_t *data = nullptr;
    size_t capacity = 0;
    size_t length = 0;
    SocketAddress peer;
    uint32_t from = 0;
};

// Receives up to count datagrams without waiting: how many arrived (0 when
// none waits), or -1 with LastSocketError set.
int OsRecvDatagrams(int fd, DatagramSlot *slots, int count);
// Sends the slots in order without waiting: how many went (fewer when the
// socket's buffer filled), or -1 when not even the first could.
int OsSendDatagrams(int fd, const DatagramSlot *slots, int count);
int OsSetSendBuffer(int fd, int bytes);

} // namespace platform

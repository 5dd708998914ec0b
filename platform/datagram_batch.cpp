#include "platform/datagram_batch.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/winsock_codes.h"

namespace platform {
namespace {
constexpr int kChunk = 64;

int Fail()
{
    SetLastSocketError(WinsockCode(errno));
    return -1;
}

struct Chunk {
    mmsghdr headers[kChunk];
    iovec vectors[kChunk];
    sockaddr_in addresses[kChunk];
    alignas(cmsghdr) uint8_t controls[kChunk][CMSG_SPACE(sizeof(in_pktinfo))];
};

void Describe(Chunk &chunk, int i, void *data, size_t size)
{
    chunk.vectors[i] = {data, size};
    msghdr &message = chunk.headers[i].msg_hdr;
    message = {};
    message.msg_name = &chunk.addresses[i];
    message.msg_namelen = sizeof chunk.addresses[i];
    message.msg_iov = &chunk.vectors[i];
    message.msg_iovlen = 1;
}

// Asks the kernel to send from this local address (IP_PKTINFO).
void SendFrom(Chunk &chunk, int i, uint32_t from)
{
    msghdr &message = chunk.headers[i].msg_hdr;
    message.msg_control = chunk.controls[i];
    message.msg_controllen = sizeof chunk.controls[i];
    cmsghdr *control = CMSG_FIRSTHDR(&message);
    control->cmsg_level = IPPROTO_IP;
    control->cmsg_type = IP_PKTINFO;
    control->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = from;
    std::memcpy(CMSG_DATA(control), &info, sizeof info);
}
} // namespace

int OsRecvDatagrams(int fd, DatagramSlot *slots, int count)
{
    int done = 0;
    Chunk chunk;
    while (done < count) {
        const int want = count - done < kChunk ? count - done : kChunk;
        for (int i = 0; i < want; ++i)
            Describe(chunk, i, slots[done + i].data, slots[done + i].capacity);
        int got;
        do {
            got = ::recvmmsg(fd, chunk.headers, static_cast<unsigned>(want), MSG_DONTWAIT, nullptr);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            // An ICMP error left on the socket says nothing of what waits.
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED)
                return done;
            return done > 0 ? done : Fail();
        }
        for (int i = 0; i < got; ++i) {
            DatagramSlot &slot = slots[done + i];
            slot.length = chunk.headers[i].msg_len;
            slot.peer = {};
            slot.peer.ip = chunk.addresses[i].sin_addr.s_addr;
            slot.peer.port = ntohs(chunk.addresses[i].sin_port);
        }
        done += got;
        if (got < want)
            break;
    }
    return done;
}

int OsSendDatagrams(int fd, const DatagramSlot *slots, int count)
{
    int done = 0;
    Chunk chunk;
    while (done < count) {
        const int want = count - done < kChunk ? count - done : kChunk;
        for (int i = 0; i < want; ++i) {
            const DatagramSlot &slot = slots[done + i];
            Describe(chunk, i, slot.data, slot.length);
            chunk.addresses[i] = {};
            chunk.addresses[i].sin_family = AF_INET;
            chunk.addresses[i].sin_addr.s_addr = slot.peer.ip;
            chunk.addresses[i].sin_port = htons(slot.peer.port);
            if (slot.from != 0)
                SendFrom(chunk, i, slot.from);
        }
        int sent;
        do {
            sent = ::sendmmsg(fd, chunk.headers, static_cast<unsigned>(want), MSG_DONTWAIT | MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0)
            return done > 0 ? done : Fail();
        done += sent;
        if (sent < want)
            break;
    }
    return done;
}

int OsSetSendBuffer(int fd, int bytes)
{
    return ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0 ? 0 : Fail();
}

} // namespace platform

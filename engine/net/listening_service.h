#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/net/qsocket.h"

// What a task remembers of the listener, to show it to the user: the address
// and port last published to it and the status text.
struct TListenerStatus {
    uint32_t address = 0;
    int32_t port = 0;
    std::string text;
};

// The engine's one listening service: a TCP listener on the configured port,
// the stream-transport listener on the same port, the connections accepted
// and not yet claimed by a task, and the address and port published to the
// tracker, LAN and UDP parts. Everything but the published address and port
// is used under the registry lock; the methods take it themselves.
class QListeningService {
public:
    // Called by each task on its peer-pool tick: follows the P2P switch and
    // the local address, (re)opens what is closed and brings the task's
    // status up to date. False when no TCP listener could be open.
    bool Refresh(TListenerStatus &task);
    // Closes both listeners and clears what was published; with dropPending
    // also frees every accepted connection still waiting for a task.
    void Stop(bool dropPending);

    // For the peer pool's accept, under the registry lock.
    QSocket &TcpListener() { return tcpListener; }
    QSocket &UdpListener() { return udpListener; }
    std::vector<std::unique_ptr<QSocket>> &Pending() { return pending; }

    uint32_t PublishedAddress() const { return publishedAddress.load(); }
    int32_t PublishedPort() const { return publishedPort.load(); }
    std::string StatusText();

private:
    void CloseUdpListener();
    void Publish(uint32_t address, int32_t port, const std::string &text);

    QSocket tcpListener;
    QSocket udpListener;
    std::vector<std::unique_ptr<QSocket>> pending;
    std::atomic<uint32_t> publishedAddress{0};
    std::atomic<int32_t> publishedPort{0};
    std::string statusText;
    uint32_t lastAddressCheck = 0;
    // What the stream transport was last told.
    uint32_t toldAddress = 0;
    int32_t toldPort = 0;
};

QListeningService &ListeningService();

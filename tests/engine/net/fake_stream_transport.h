#pragma once
// A stream transport double that records what QSocket and the listening
// service ask of it; tests decide when a connection is established and what
// the next calls report.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/net/stream_transport.h"
#include "platform/winsock_codes.h"

class FakeStreamTransport : public QStreamTransport {
public:
    bool established = false;
    int32_t sendRoom = 1 << 30;  // bytes the next sends may take
    int32_t sendResult = 0;      // when not 0: what Send returns instead
    int32_t sendError = 0;       // with sendResult -1: the error
    int32_t acceptError = platform::WSAEWOULDBLOCK;
    std::string sent;
    std::string incoming;
    bool remoteClosed = false;
    TSockAddr connectedTo;
    TSockAddr boundTo;
    int32_t backlog = 0;
    int32_t receiveBufferCalls = 0;
    int32_t resets = 0;
    std::vector<std::pair<uint32_t, int32_t>> told;
    std::set<int32_t> open;

    int32_t Socket() override
    {
        open.insert(nextHandle);
        return nextHandle++;
    }
    int32_t Bind(int32_t, const TSockAddr &address) override
    {
        boundTo = address;
        return 0;
    }
    int32_t Listen(int32_t, int32_t size) override
    {
        backlog = size;
        return 0;
    }
    int32_t Accept(int32_t, TSockAddr *) override { return Fail(acceptError); }
    int32_t Connect(int32_t, const TSockAddr &address) override
    {
        connectedTo = address;
        return Fail(platform::WSAEWOULDBLOCK);
    }
    int32_t Send(int32_t, const uint8_t *data, int32_t length) override
    {
        if (sendResult != 0)
            return sendResult < 0 ? Fail(sendError) : sendResult;
        if (!established)
            return Fail(platform::WSAEWOULDBLOCK);
        int32_t taken = std::min(length, sendRoom);
        if (taken == 0)
            return Fail(platform::WSAEWOULDBLOCK);
        sent.append(reinterpret_cast<const char *>(data), static_cast<size_t>(taken));
        sendRoom -= taken;
        return taken;
    }
    int32_t Recv(int32_t, uint8_t *buffer, int32_t length) override
    {
        if (incoming.empty())
            return remoteClosed ? 0 : Fail(platform::WSAEWOULDBLOCK);
        int32_t taken = std::min(length, static_cast<int32_t>(incoming.size()));
        std::memcpy(buffer, incoming.data(), static_cast<size_t>(taken));
        incoming.erase(0, static_cast<size_t>(taken));
        return taken;
    }
    int32_t Wait(int32_t, TWaitFor what, int32_t) override
    {
        if (what == TWaitFor::Write)
            return established ? 1 : 0;
        return incoming.empty() && !remoteClosed ? 0 : 1;
    }
    int32_t GetSockName(int32_t, TSockAddr *local) override
    {
        if (!established)
            return Fail(platform::WSAENOTCONN);
        local->ip = 0x0100007F;
        local->port = 7000;
        std::memcpy(local->padding, "IDENTITY", 8);
        return 0;
    }
    int32_t PendingError(int32_t) override { return 0; }
    int32_t SetReuseAddress(int32_t) override { return 0; }
    int32_t SetReceiveBuffer(int32_t, int32_t) override
    {
        ++receiveBufferCalls;
        return 0;
    }
    int32_t Close(int32_t handle) override
    {
        open.erase(handle);
        return 0;
    }
    int32_t LastError() override { return lastError; }
    void SetLocalAddress(uint32_t address, int32_t port) override { told.emplace_back(address, port); }
    void Reset() override { ++resets; }

private:
    int32_t Fail(int32_t error)
    {
        lastError = error;
        return -1;
    }

    int32_t nextHandle = 1;
    int32_t lastError = 0;
};

// Registers a transport for the lifetime of the guard.
struct TransportRegistered {
    explicit TransportRegistered(QStreamTransport *transport) { SetStreamTransport(transport); }
    ~TransportRegistered() { SetStreamTransport(nullptr); }
};

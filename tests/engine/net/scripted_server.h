#pragma once
// A TCP server scripted by a test on its own thread, and a deleter for
// reference-counted objects held by tests.
#include <memory>
#include <string>

#include "engine/base/ref_object.h"
#include "platform/tick.h"
#include "tests/engine/net/loopback.h"

// A server scripted by the test on the same thread: it accepts when told,
// reads one request head and sends what the test gives it.
class ScriptedServer {
public:
    bool Listen()
    {
        port = ListenOnLoopback(listener);
        return port != 0;
    }
    std::string Url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    bool HasWaitingConnection() { return listener.WaitReadable(0); }
    bool Accept()
    {
        connection = AcceptWithin(listener);
        if (connection)
            ++accepted;
        return connection != nullptr;
    }
    // The request head, read within five seconds.
    std::string Request()
    {
        for (int i = 0; i < 5000; ++i) {
            connection->Receive();
            std::string text(connection->ReceiveBuffer().Text(), static_cast<size_t>(connection->ReceiveLength()));
            size_t end = text.find("\r\n\r\n");
            if (end != std::string::npos) {
                connection->ConsumeReceived(static_cast<int32_t>(end + 4));
                return text.substr(0, end + 4);
            }
            platform::SleepMs(1);
        }
        return std::string();
    }
    void Send(const std::string &bytes) { connection->Send(bytes.data(), static_cast<int32_t>(bytes.size())); }
    void Flush()
    {
        if (connection && connection->HasHandle() && connection->SendLength() > 0)
            connection->Flush();
    }
    bool Unsent() const { return connection && connection->SendLength() > 0; }
    // Closes once everything queued has gone out.
    void Close()
    {
        for (int i = 0; i < 5000 && Unsent(); ++i) {
            Flush();
            platform::SleepMs(1);
        }
        connection->Close();
    }

    QSocket listener;
    std::unique_ptr<QSocket> connection;
    int32_t port = 0;
    int32_t accepted = 0;
};

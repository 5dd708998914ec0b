#include "app/listen_port_choice.h"

namespace {

int32_t NextCandidate(int32_t port)
{
    do
        ++port;
    while (IsExcludedListenPort(port));
    return port;
}

} // namespace

bool IsExcludedListenPort(int32_t port)
{
    switch (port) {
    case 40412:
    case 40421:
    case 40422:
    case 40423:
    case 40426:
    case 43958:
    case 44444:
    case 47262:
        return true;
    default:
        return false;
    }
}

int32_t FirstListenPortCandidate(uint32_t random)
{
    return NextCandidate(static_cast<int32_t>(random % 10000) + kFirstListenPort);
}

int32_t ChooseListenPort(int32_t start, const std::function<bool(int32_t)> &inUse)
{
    if (start < kFirstListenPort || start > kLastListenPort)
        start = kFirstListenPort;
    int32_t port = start;
    do {
        if (!inUse(port))
            return port;
        port = NextCandidate(port);
        if (port > kLastListenPort)
            port = kFirstListenPort;
    } while (port != start);
    return 0;
}

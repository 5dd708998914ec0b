#include "tools/qlrendezvous/rendezvous_command.h"

#include <charconv>

#include "engine/net/ipv4_address.h"
#include "platform/stop_signals.h"
#include "tools/qlrendezvous/rendezvous_service.h"

namespace {
constexpr char kUsage[] = "usage: qlrendezvous [--listen ADDR:PORT]\n";
constexpr char kDefaultListen[] = "0.0.0.0:82";
} // namespace

std::optional<TRendezvousEndpoint> ParseListenAddress(std::string_view text)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() || port < 1 ||
        port > 65535)
        return std::nullopt;
    TRendezvousEndpoint endpoint;
    endpoint.port = static_cast<uint16_t>(port);
    if (host != "0.0.0.0") {
        const uint32_t address = IsDigitsAndDots(host) ? DottedParse(host) : kNoAddress;
        if (address == kNoAddress)
            return std::nullopt;
        endpoint.ipv4 = HostToNetwork32(address);
    }
    return endpoint;
}

int RunQlrendezvous(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    std::string listenText = kDefaultListen;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--listen" && i + 1 < args.size()) {
            listenText = args[++i];
        } else {
            err << kUsage;
            return 2;
        }
    }
    const auto listen = ParseListenAddress(listenText);
    if (!listen) {
        err << "qlrendezvous: not an address to listen on: " << listenText << "\n" << kUsage;
        return 2;
    }
    platform::CatchStopSignals();
    TRendezvousService service;
    if (!service.Open(*listen)) {
        err << "qlrendezvous: cannot listen on " << listenText << " (error " << service.LastError() << ")\n";
        return 1;
    }
    out << "qlrendezvous: listening on " << DottedText(listen->ipv4) << ":" << service.BoundPort() << std::endl;
    service.Run([] { return platform::StopSignalCaught() != 0; });
    out << "qlrendezvous: stopped; " << service.DroppedAnswers() << " answers dropped" << std::endl;
    return 0;
}

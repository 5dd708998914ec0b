#include "engine/net/dns_diagnostic.h"

#include "engine/base/qmutex.h"
#include "platform/resolver_os.h"
#include "report/download_report.h"

namespace {
constexpr const char *kDnsDiagnosticEvent = "11500106";

struct Capture {
    QSMutex guard;
    TDnsDiagnosticCapture capture;
};

Capture &TheCapture()
{
    static Capture *capture = new Capture;
    return *capture;
}
} // namespace

std::string DnsDiagnosticText(uint32_t error, const std::string &host, const std::vector<std::string> &servers)
{
    std::string text = "ErrCode : (" + std::to_string(error) + ") Host : (" + host + ") ";
    if (servers.empty() || servers.front().empty())
        return text + ", no DNS";
    text += ", DNS : (" + servers.front() + ")";
    for (size_t i = 1; i < servers.size(); ++i)
        text += ", 备用 DNS : (" + servers[i] + ")";
    return text;
}

void ReportDnsDiagnostic(uint32_t error, const std::string &host)
{
    std::string text = DnsDiagnosticText(error, host, platform::DnsServers());
    TDnsDiagnosticCapture capture;
    {
        Capture &hook = TheCapture();
        QAutoLock hold(hook.guard);
        capture = hook.capture;
    }
    if (capture)
        capture(text);
    else
        ReportEvent(kDnsDiagnosticEvent, text, 0);
}

void SetDnsDiagnosticCapture(TDnsDiagnosticCapture capture)
{
    Capture &hook = TheCapture();
    QAutoLock hold(hook.guard);
    hook.capture = std::move(capture);
}

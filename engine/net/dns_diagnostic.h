#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The text that tells the collection server why a host could not be found:
// the error, the host and the DNS servers this machine asks.
std::string DnsDiagnosticText(uint32_t error, const std::string &host, const std::vector<std::string> &servers);

// Builds the text with this host's DNS servers and reports it as event
// "11500106".
void ReportDnsDiagnostic(uint32_t error, const std::string &host);

// Tests see the reported texts here instead of the download report; an empty
// function restores the report.
using TDnsDiagnosticCapture = std::function<void(const std::string &text)>;
void SetDnsDiagnosticCapture(TDnsDiagnosticCapture capture);

#pragma once
#include <functional>
#include <string>

namespace platform {

// The debugger output of the engine: standard error when QUARROWLIGHT_DEBUG_LOG
// is "1", otherwise nothing. Tests install a capture to see every line.
void DiagnosticOutput(const std::string &text);

using DiagnosticCapture = std::function<void(const std::string &)>;
// Replaces the destination until cleared with an empty function.
void SetDiagnosticCapture(DiagnosticCapture capture);

} // namespace platform

#pragma once

namespace platform {

// True when standard error is a terminal (progress can be redrawn in place).
bool StandardErrorIsTerminal();

} // namespace platform

#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Where message boxes go: a window installs one that shows them, the
// command-line program one that prints them, tests one that records them.
using TMessageSink =
    std::function<void(void *window, const std::string &text, const std::string &caption, uint32_t type)>;

// Replaces the sink; an empty function restores the default, which prints
// "caption: text" to standard error.
void SetMessageSink(TMessageSink sink);

// Shows a message from a helper thread so the caller never blocks; the texts
// are copied before the helper starts. With a report id, a line break and
// "（id）" are appended. Returns true when the helper started within 2000 ms.
bool ShowMessageOnHelper(void *window, const char *text, const char *caption, uint32_t type);

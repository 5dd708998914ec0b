#include "engine/core/message_sink.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>

#include "engine/base/report_hooks.h"
#include "platform/os_thread.h"

namespace {
std::mutex sinkLock;
TMessageSink installedSink;

void PrintMessage(void *, const std::string &text, const std::string &caption, uint32_t)
{
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

TMessageSink CurrentSink()
{
    std::lock_guard<std::mutex> hold(sinkLock);
    return installedSink ? installedSink : TMessageSink(PrintMessage);
}
} // namespace

void SetMessageSink(TMessageSink sink)
{
    std::lock_guard<std::mutex> hold(sinkLock);
    installedSink = std::move(sink);
}

bool ShowMessageOnHelper(void *window, const char *text, const char *caption, uint32_t type)
{
    std::string textCopy = text != nullptr ? text : "";
    std::string captionCopy = caption != nullptr ? caption : "";
    auto started = std::make_shared<std::promise<void>>();
    std::future<void> startedSignal = started->get_future();
    bool created = platform::StartDetachedThread([=] {
        started->set_value();
        std::string shown = textCopy;
        std::string id = ReportIdThroughHook();
        if (!id.empty())
            shown += "\n（" + id + "）";
        CurrentSink()(window, shown, captionCopy, type);
    });
    if (!created)
        return false;
    return startedSignal.wait_for(std::chrono::milliseconds(2000)) == std::future_status::ready;
}

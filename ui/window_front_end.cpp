#include "ui/window_front_end.h"

#include <QMetaObject>
#include <cstdio>

#include "ui/gui_thread.h"
#include "ui/main_window.h"

namespace {

// Runs call on the window's thread when its event loop gets there; a call
// still queued when the window goes is dropped with it.
template <typename TCall>
void QueueTo(CpvhQuarrowlightUIDlg *window, TCall call)
{
    if (window != nullptr)
        QMetaObject::invokeMethod(window, [window, call] { call(*window); }, Qt::QueuedConnection);
}

} // namespace

void CWindowFrontEnd::ShowMessage(const std::string &text, const std::string &caption)
{
    if (window == nullptr) {
        std::fprintf(stderr, "quarrowlight: %s\n", text.c_str());
        return;
    }
    QueueTo(window, [text, caption](CpvhQuarrowlightUIDlg &target) { target.ShowAsyncMessage(text, caption); });
}

void CWindowFrontEnd::ShowModalMessage(const std::string &text, const std::string &caption)
{
    AssertGuiThread();
    if (window == nullptr) {
        ShowMessage(text, caption);
        return;
    }
    window->ShowModalMessage(text, caption);
}

bool CWindowFrontEnd::AskYesNo(const std::string &text, const std::string &caption)
{
    AssertGuiThread();
    return window != nullptr && window->AskYesNo(text, caption);
}

void CWindowFrontEnd::PostFrontEndMessage(uint32_t message)
{
    QueueTo(window, [message](CpvhQuarrowlightUIDlg &target) { target.OnFrontEndMessage(message); });
}

void CWindowFrontEnd::DestroyMainWindow()
{
    QueueTo(window, [](CpvhQuarrowlightUIDlg &target) { target.DestroyWindow(); });
}

void CWindowFrontEnd::OnPortMappingNotice(uint32_t step, int32_t status)
{
    QueueTo(window, [step, status](CpvhQuarrowlightUIDlg &target) { target.OnPortMappingNotice(step, status); });
}

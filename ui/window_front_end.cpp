#include "ui/window_front_end.h"

#include <QMetaObject>
#include <cstdio>

#include "ui/gui_thread.h"
#include "ui/main_window.h"

void CWindowFrontEnd::ShowMessage(const std::string &text, const std::string &caption)
{
    if (window == nullptr) {
        std::fprintf(stderr, "quarrowlight: %s\n", text.c_str());
        return;
    }
    CpvhQuarrowlightUIDlg *target = window;
    QMetaObject::invokeMethod(
        target, [target, text, caption] { target->ShowAsyncMessage(text, caption); }, Qt::QueuedConnection);
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
    if (window == nullptr)
        return;
    CpvhQuarrowlightUIDlg *target = window;
    QMetaObject::invokeMethod(
        target, [target, message] { target->OnFrontEndMessage(message); }, Qt::QueuedConnection);
}

void CWindowFrontEnd::DestroyMainWindow()
{
    if (window == nullptr)
        return;
    CpvhQuarrowlightUIDlg *target = window;
    QMetaObject::invokeMethod(target, [target] { target->DestroyWindow(); }, Qt::QueuedConnection);
}

void CWindowFrontEnd::OnPortMappingNotice(uint32_t step, int32_t status)
{
    if (window == nullptr)
        return;
    CpvhQuarrowlightUIDlg *target = window;
    QMetaObject::invokeMethod(
        target, [target, step, status] { target->OnPortMappingNotice(step, status); }, Qt::QueuedConnection);
}

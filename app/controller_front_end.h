#pragma once
#include <cstdint>
#include <string>

// The message the front-end receives when a check that was asked to install
// afterwards has passed; its handler runs the Install command.
inline constexpr uint32_t kInstallAfterCheckMessage = 1128;

inline constexpr char kMessageCaption[] = "Varnholm下载器";

// What the controller asks of whatever shows it: a window, the terminal
// front-end, or a test that records. The controller never blocks on a
// message box except where it asks a question or the box is modal.
// ShowMessage and PostFrontEndMessage are also called from the verification
// worker, so they must be safe to call from any thread.
class IControllerFrontEnd {
public:
    virtual ~IControllerFrontEnd() = default;
    // A message box that does not block the caller.
    virtual void ShowMessage(const std::string &text, const std::string &caption) = 0;
    // A message box the caller waits for.
    virtual void ShowModalMessage(const std::string &text, const std::string &caption) = 0;
    // A modal Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string &text, const std::string &caption) = 0;
    // Queues a message for the front-end's own thread (kInstallAfterCheckMessage).
    virtual void PostFrontEndMessage(uint32_t message) = 0;
    // Closes the main window; the front-end then calls OnExit and ends.
    virtual void DestroyMainWindow() = 0;
};

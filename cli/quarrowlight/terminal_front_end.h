#pragma once
// The controller's front-end on a terminal: message boxes are printed, the
// one question is answered from the command line, and posted messages wait
// in a queue for the front-end's loop.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/controller_front_end.h"

class CTerminalFrontEnd : public IControllerFrontEnd {
public:
    // print shows one message; it is called under the front-end's lock, so
    // messages from the verification worker never interleave.
    CTerminalFrontEnd(bool answerYes, std::function<void(const std::string &)> print);

    void ShowMessage(const std::string &text, const std::string &caption) override;
    void ShowModalMessage(const std::string &text, const std::string &caption) override;
    bool AskYesNo(const std::string &text, const std::string &caption) override;
    void PostFrontEndMessage(uint32_t message) override;
    void DestroyMainWindow() override;

    // The messages posted since the last call, oldest first.
    std::vector<uint32_t> TakePosted();
    bool WindowDestroyed() const { return destroyed; }

private:
    void Print(const std::string &text, const std::string &caption);

    const bool answerYes;
    std::function<void(const std::string &)> print;
    std::mutex lock;
    std::vector<uint32_t> posted;
    std::atomic<bool> destroyed{false};
};

// "[caption] text" on one line; the Windows line breaks of the controller's
// texts become spaces.
std::string MessageLine(const std::string &text, const std::string &caption);

#include "cli/quarrowlight/terminal_front_end.h"

#include <utility>

CTerminalFrontEnd::CTerminalFrontEnd(bool answerYes, std::function<void(const std::string &)> print)
    : answerYes(answerYes), print(std::move(print))
{
}

void CTerminalFrontEnd::Print(const std::string &text, const std::string &caption)
{
    std::lock_guard<std::mutex> hold(lock);
    print(MessageLine(text, caption));
}

void CTerminalFrontEnd::ShowMessage(const std::string &text, const std::string &caption)
{
    Print(text, caption);
}

void CTerminalFrontEnd::ShowModalMessage(const std::string &text, const std::string &caption)
{
    Print(text, caption);
}

bool CTerminalFrontEnd::AskYesNo(const std::string &text, const std::string &caption)
{
    Print(text + (answerYes ? " -> yes" : " -> no"), caption);
    return answerYes;
}

void CTerminalFrontEnd::PostFrontEndMessage(uint32_t message)
{
    std::lock_guard<std::mutex> hold(lock);
    posted.push_back(message);
}

void CTerminalFrontEnd::DestroyMainWindow()
{
    destroyed = true;
}

std::vector<uint32_t> CTerminalFrontEnd::TakePosted()
{
    std::lock_guard<std::mutex> hold(lock);
    std::vector<uint32_t> taken;
    taken.swap(posted);
    return taken;
}

std::string MessageLine(const std::string &text, const std::string &caption)
{
    std::string line = "[" + caption + "] ";
    bool lastWasBreak = false;
    for (char c : text) {
        bool isBreak = c == '\r' || c == '\n';
        if (isBreak && !lastWasBreak)
            line += ' ';
        else if (!isBreak)
            line += c;
        lastWasBreak = isBreak;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

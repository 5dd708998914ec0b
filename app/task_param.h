#pragma once
#include <string>

#include "engine/core/engine_interface.h"

// The texts of one file's task before they are copied into the engine's
// fixed 4096-byte fields.
struct TTaskTexts {
    std::string targetPath;
    std::string resumePath;
    std::string defaultResumePath; // used when resumePath does not fit
    std::string torrentPath;       // empty: no torrent, a plain HTTP task
    const char *sourceList = "";   // must outlive the task's creation
};

// Fills a task record: the target and resume paths, the HTTP source and, with
// a torrent, "file://" + its path as the main source and TASK_FLAG_P2SP. A
// text that would not fit its field is never cut: a resume path falls back to
// the default one, a torrent too long makes a plain HTTP task. userState is
// kept. False (the record unusable) when the target path does not fit.
bool FillTaskParam(TTaskParam &param, const TTaskTexts &texts);

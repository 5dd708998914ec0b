#pragma once
// The files one qlget run writes, and what guards them: a lock keeps a second
// run off the same output for the whole run; only regular files are ever
// replaced; and with --force an existing output stays whole until the new
// download is complete under a staging name, which then replaces it.
#include <filesystem>
#include <optional>
#include <string>

#include "cli/qlget/qlget_options.h"
#include "cli/qlget/qlget_outcome.h"
#include "platform/instance_lock.h"

class TQlgetOutput {
public:
    // Takes the output's lock, then checks what lies at every path the run
    // may write. An outcome when the run must end here; nothing is changed
    // on disk either way.
    std::optional<TQlgetOutcome> Claim(const TQlgetOptions &options);

    // Starts a forced download that is not under way yet afresh: the partial
    // data and saved state of an earlier attempt go. Any other run keeps
    // them, so the same command continues where it stopped.
    void ClearEarlierAttempt() const;

    // After the engine completed its target: the output holds the new data,
    // or an outcome says why not.
    std::optional<TQlgetOutcome> Publish() const;

    const std::filesystem::path &Output() const { return output; }
    const std::filesystem::path &State() const { return state; }
    // Where the engine downloads to: the output, or its staging name while
    // a forced download replaces an existing output.
    const std::filesystem::path &Target() const { return target; }

private:
    platform::InstanceLock lock;
    std::filesystem::path output;
    std::filesystem::path state;
    std::filesystem::path target;
    bool startAfresh = false;
};

// The lock file's name for an output, after its absolute path with the
// links of its folder resolved, so that two spellings of one output share it.
std::string OutputLockName(const std::filesystem::path &output);

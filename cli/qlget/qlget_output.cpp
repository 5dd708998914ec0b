#include "cli/qlget/qlget_output.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace fs = std::filesystem;

namespace {

// A completed staged download is renamed over the output; the engine adds
// its own temporary suffix while the data is incomplete.
constexpr char kStagingSuffix[] = ".qlnew";
constexpr char kPartialSuffix[] = ".qltmp";

fs::path WithSuffix(const fs::path &path, const char *suffix)
{
    return path.string() + suffix;
}

bool Present(const fs::path &path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

const char *KindOf(fs::file_type type)
{
    switch (type) {
    case fs::file_type::directory:
        return "a folder";
    case fs::file_type::symlink:
        return "a symbolic link";
    case fs::file_type::block:
        return "a block device";
    case fs::file_type::character:
        return "a character device";
    case fs::file_type::fifo:
        return "a named pipe";
    case fs::file_type::socket:
        return "a socket";
    default:
        return "not a file";
    }
}

// Renaming or removing would destroy what is there (a device node, a folder)
// or act on a link's target's name instead of the link: refused.
std::optional<TQlgetOutcome> RefuseUnlessRegular(const fs::path &path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (!fs::exists(status) || fs::is_regular_file(status))
        return std::nullopt;
    return TQlgetOutcome{QLGET_BAD_ARGUMENTS, path.string() + " is " + KindOf(status.type()) +
                                                  ", not a regular file; qlget only ever replaces regular files"};
}

void RemoveQuietly(const fs::path &path)
{
    std::error_code ignored;
    fs::remove(path, ignored);
}

} // namespace

std::string OutputLockName(const fs::path &output)
{
    std::error_code error;
    fs::path folder = fs::weakly_canonical(output.parent_path(), error);
    if (error)
        folder = output.parent_path();
    const std::string key = (folder / output.filename()).string();
    // FNV-1a: stable across builds; a collision only refuses a run, with a
    // message naming the lock.
    uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char name[48];
    std::snprintf(name, sizeof name, "qlget-%016llx.lock", static_cast<unsigned long long>(hash));
    return name;
}

std::optional<TQlgetOutcome> TQlgetOutput::Claim(const TQlgetOptions &options)
{
    std::error_code error;
    output = fs::absolute(options.output, error).lexically_normal();
    state = fs::absolute(options.statePath, error).lexically_normal();
    if (output.filename().empty())
        return TQlgetOutcome{QLGET_BAD_ARGUMENTS, output.string() + " names a folder; -o takes a file's name"};

    switch (lock.Acquire(OutputLockName(output))) {
    case platform::InstanceLock::Result::Acquired:
        break;
    case platform::InstanceLock::Result::HeldByAnother:
        return TQlgetOutcome{QLGET_OUTPUT_IN_USE, "another qlget is downloading to " + output.string() + " (lock " +
                                                      lock.Path() + "); nothing was changed"};
    case platform::InstanceLock::Result::Failed:
        return TQlgetOutcome{QLGET_FILE_OPEN_FAILED,
                             "cannot take the lock " + lock.Path() + " that keeps other runs off " + output.string()};
    }

    const fs::path staged = WithSuffix(output, kStagingSuffix);
    for (const fs::path &path : {output, WithSuffix(output, kPartialSuffix), staged, WithSuffix(staged, kPartialSuffix),
                                 state, WithSuffix(state, "df")}) {
        if (std::optional<TQlgetOutcome> refused = RefuseUnlessRegular(path))
            return refused;
    }
    target = output;
    if (!Present(output))
        return std::nullopt;
    if (!options.force)
        return TQlgetOutcome{QLGET_OUTPUT_EXISTS, output.string() + " already exists; --force downloads it again"};
    target = staged;
    // Partial staged data with its state is a forced download under way.
    startAfresh = !(Present(WithSuffix(staged, kPartialSuffix)) && Present(state));
    return std::nullopt;
}

void TQlgetOutput::ClearEarlierAttempt() const
{
    if (!startAfresh)
        return;
    for (const fs::path &path : {WithSuffix(output, kPartialSuffix), target, WithSuffix(target, kPartialSuffix), state,
                                 WithSuffix(state, "df")})
        RemoveQuietly(path);
}

std::optional<TQlgetOutcome> TQlgetOutput::Publish() const
{
    if (!Present(target) || Present(WithSuffix(target, kPartialSuffix)))
        return TQlgetOutcome{QLGET_NOT_RENAMED,
                             "the download completed but " + target.string() + " did not get its final name"};
    if (target == output)
        return std::nullopt;
    // The output may have changed kind while the download ran.
    if (std::optional<TQlgetOutcome> refused = RefuseUnlessRegular(output))
        return refused;
    if (std::rename(target.c_str(), output.c_str()) != 0)
        return TQlgetOutcome{QLGET_NOT_RENAMED, "the download completed as " + target.string() + " but cannot replace " +
                                                    output.string() + ": " + std::strerror(errno)};
    return std::nullopt;
}

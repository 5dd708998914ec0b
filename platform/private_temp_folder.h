#pragma once
#include <string>

namespace platform {

// A fresh folder only this user can enter, under the TEMP folder; it and the
// files directly inside it are removed when the object goes.
class PrivateTempFolder {
public:
    PrivateTempFolder() = default;
    ~PrivateTempFolder();
    PrivateTempFolder(const PrivateTempFolder &) = delete;
    PrivateTempFolder &operator=(const PrivateTempFolder &) = delete;

    // False when the folder cannot be made.
    bool Create(const std::string &prefix);
    const std::string &Path() const { return path; }

private:
    std::string path;
};

} // namespace platform

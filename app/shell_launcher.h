#pragma once
#include <string>

// Opens a file as the desktop shell would; the result follows the Windows
// shell: above 32 on success, else a small error number.
class IShellLauncher {
public:
    virtual ~IShellLauncher() = default;
    virtual int Open(const std::string &path, const std::string &workFolder) = 0;
};

// The platform's own.
class CSystemShellLauncher : public IShellLauncher {
public:
    int Open(const std::string &path, const std::string &workFolder) override;
};

#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Where embedded resources come from: the program's own file in the
// program, anything in tests.
enum class ResourceLoad { Loaded, NoModule, NotFound, LoadFailed };

class IResourceSource {
public:
    virtual ~IResourceSource() = default;
    virtual ResourceLoad Load(std::string_view type, int32_t id, std::string &bytes) = 0;
};

// The resource directory appended to a program file (resource_directory.h).
class CProgramResources : public IResourceSource {
public:
    // The running program by default.
    CProgramResources();
    explicit CProgramResources(std::string programPath);
    ResourceLoad Load(std::string_view type, int32_t id, std::string &bytes) override;

private:
    std::string programPath;
};

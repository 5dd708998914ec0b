#pragma once
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

// A fresh folder under the temp folder for one test, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder()
    {
        static std::atomic<unsigned> counter{0};
        std::random_device seed;
        root = std::filesystem::temp_directory_path() /
               ("ql-test-" + std::to_string(seed()) + "-" + std::to_string(counter.fetch_add(1)));
        std::filesystem::create_directories(root);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    std::string Path(const std::string &name) const { return (root / name).string(); }
    const std::filesystem::path &Root() const { return root; }

    void Write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream out(root / name, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::string Read(const std::string &name) const
    {
        std::ifstream in(root / name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path root;
};

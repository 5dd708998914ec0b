#pragma once
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "tests/app/app_test_support.h"

// Files whose reading goes wrong in chosen ways; every other path is real.
class ScriptedFiles : public ScratchFileSystem {
public:
    struct Script {
        uint64_t size = 0;           // what the size query says
        uint64_t failAfter = UINT64_MAX; // a read error once this many bytes were given
        bool endless = false;        // never reaches the end
    };

    using ScratchFileSystem::ScratchFileSystem;

    std::unique_ptr<IReadableFile> OpenForReading(const std::string &path) override
    {
        auto found = scripts.find(path);
        if (found == scripts.end())
            return ScratchFileSystem::OpenForReading(path);
        return std::make_unique<ScriptedFile>(found->second);
    }

    std::map<std::string, Script> scripts;

private:
    class ScriptedFile : public IReadableFile {
    public:
        explicit ScriptedFile(Script script) : script(script) {}
        bool Size(uint64_t &size) override
        {
            size = script.size;
            return true;
        }
        int64_t Read(void *buffer, size_t size) override
        {
            if (given >= script.failAfter)
                return -1;
            if (!script.endless && given >= script.size)
                return 0;
            size_t n = script.endless ? size : static_cast<size_t>(std::min<uint64_t>(size, script.size - given));
            std::memset(buffer, 'e', n);
            given += n;
            return static_cast<int64_t>(n);
        }

    private:
        Script script;
        uint64_t given = 0;
    };
};

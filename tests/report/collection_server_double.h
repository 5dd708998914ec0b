#pragma once
// Starts tests/doubles/collection_server.py on a free loopback port for one
// test suite and reads back what was posted to it.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

#include "platform/child_process.h"
#include "platform/fact_files.h"
#include "platform/tick.h"
#include "tests/platform/scratch_folder.h"

class CollectionServerDouble {
public:
    struct Post {
        std::string path;
        std::string body;
    };

    // False when the double did not come up within ten seconds.
    bool Start()
    {
        pid = platform::StartChildProcess({"/usr/bin/python3", std::string(QL_SOURCE_DIR) + "/tests/doubles/collection_server.py",
                                           "--port-file", folder.Path("port"), "--record", folder.Path("posts")});
        if (pid <= 0)
            return false;
        for (int waited = 0; waited < 10000; waited += 20) {
            std::string text;
            if (platform::ReadFileBounded(folder.Path("port"), 16, text) && !text.empty()) {
                port = text;
                return true;
            }
            platform::SleepMs(20);
        }
        return false;
    }

    ~CollectionServerDouble()
    {
        if (pid > 0)
            platform::StopChildProcess(pid);
    }

    std::string Url(const std::string &path) const { return "http://127.0.0.1:" + port + path; }

    // Every POST so far, in arrival order.
    std::vector<Post> Posts() const
    {
        std::string text;
        platform::ReadFileBounded(folder.Path("posts"), 64 * 1024 * 1024, text);
        std::vector<Post> posts;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                break;
            std::string line = text.substr(start, end - start);
            size_t tab = line.find('\t');
            posts.push_back(Post{line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
            start = end + 1;
        }
        return posts;
    }

    // Forgets the posts recorded so far.
    void ClearPosts() const { folder.Write("posts", ""); }

    // A posted "data=" body decoded ('_' is a blank, %XX a byte) and parsed;
    // a null value when it is no "data=" form or no JSON.
    static Json::Value DecodeBatch(const std::string &body)
    {
        const std::string prefix = "data=";
        if (body.compare(0, prefix.size(), prefix) != 0)
            return Json::Value();
        std::string text;
        for (size_t i = prefix.size(); i < body.size(); ++i) {
            if (body[i] == '_') {
                text += ' ';
            } else if (body[i] == '%' && i + 2 < body.size()) {
                text += static_cast<char>(std::stoi(body.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                text += body[i];
            }
        }
        return ParseJson(text);
    }

    static Json::Value ParseJson(const std::string &text)
    {
        Json::CharReaderBuilder builder;
        builder["failIfExtra"] = true;
        builder["rejectDupKeys"] = true;
        Json::Value value;
        std::string errors;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors))
            return Json::Value();
        return value;
    }

private:
    ScratchFolder folder;
    int pid = -1;
    std::string port;
};

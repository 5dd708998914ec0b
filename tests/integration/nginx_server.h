#pragma once
// A real nginx for tests and benchmarks: it serves a folder on loopback
// addresses from a config generated in a temporary folder of its own, runs
// as one process in the foreground and is stopped by its process id.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/net/ipv4_address.h"
#include "engine/net/qsocket.h"
#include "platform/child_process.h"
#include "platform/free_port.h"
#include "platform/run_program.h"
#include "platform/tick.h"

struct TNginxOptions {
    // Loopback addresses to listen on, each on the same port.
    std::vector<std::string> addresses{"127.0.0.1"};
    // Extra directives inside the server block (locations, limits).
    std::string serverDirectives;
    // Extra directives of the http block (log formats).
    std::string httpDirectives;
    // 0 picks a free port.
    int port = 0;
    // Parameters of each listen directive (" ssl" with ssl_certificate in
    // serverDirectives serves https).
    std::string listenParameters;
    // A network namespace of the test's own to run in (its loopback).
    std::string netns;
};

class TNginxServer {
public:
    using TOptions = TNginxOptions;

    TNginxServer() = default;
    TNginxServer(const TNginxServer &) = delete;
    TNginxServer &operator=(const TNginxServer &) = delete;
    ~TNginxServer() { Stop(); }

    // Starts nginx serving root; true once it accepts connections.
    bool Start(const std::filesystem::path &root, const TOptions &options = TOptions())
    {
        std::error_code ignored;
        folder = std::filesystem::temp_directory_path() /
                 ("ql-nginx-" + std::to_string(platform::TickCount()) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(folder, ignored);
        port = options.port != 0 ? options.port : platform::FreeLoopbackPort();
        addresses = options.addresses;
        if (port == 0)
            return false;
        std::string conf = (folder / "nginx.conf").string();
        {
            std::ofstream out(conf);
            out << Config(root, options);
        }
        netns = options.netns;
        std::vector<std::string> argv{"/usr/sbin/nginx", "-p", folder.string(), "-c", conf, "-e",
                                      (folder / "error.log").string()};
        if (!netns.empty())
            argv.insert(argv.begin(), {"/usr/sbin/ip", "netns", "exec", netns});
        pid = platform::StartChildProcess(argv);
        if (pid <= 0)
            return false;
        for (uint32_t waited = 0; waited < 5000; waited += 20) {
            if (Accepts())
                return true;
            platform::SleepMs(20);
        }
        Stop();
        return false;
    }

    void Stop()
    {
        if (pid > 0)
            platform::StopChildProcess(pid);
        pid = -1;
        if (!folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
            folder.clear();
        }
    }

    int Port() const { return port; }
    // The folder of the generated config, for logs a config writes there.
    const std::filesystem::path &Folder() const { return folder; }
    std::string Url(const std::string &path, size_t address = 0) const
    {
        return "http://" + addresses.at(address) + ":" + std::to_string(port) + path;
    }

private:
    std::string Config(const std::filesystem::path &root, const TOptions &options) const
    {
        std::ostringstream c;
        std::string dir = folder.string();
        c << "daemon off;\nmaster_process off;\nworker_processes 1;\n";
        c << "pid " << dir << "/nginx.pid;\nerror_log " << dir << "/error.log;\n";
        c << "events { worker_connections 1024; }\n";
        c << "http {\n  access_log off;\n  sendfile on;\n  default_type application/octet-stream;\n";
        for (const char *kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            c << "  " << kind << "_temp_path " << dir << "/" << kind << ";\n";
        c << options.httpDirectives << "\n";
        c << "  server {\n";
        for (const std::string &address : options.addresses)
            c << "    listen " << address << ":" << port << options.listenParameters << ";\n";
        c << "    root " << root.string() << ";\n";
        c << options.serverDirectives << "\n  }\n}\n";
        return c.str();
    }

    bool Accepts() const
    {
        if (!netns.empty()) {
            // Probed from inside the namespace, where the listener is.
            const std::string probe = "exec 2>/dev/null 3<>/dev/tcp/" + addresses.at(0) + "/" + std::to_string(port);
            return platform::RunProgram({"/usr/sbin/ip", "netns", "exec", netns, "/bin/bash", "-c", probe}) == 0;
        }
        for (const std::string &address : addresses) {
            QSocket probe;
            if (!probe.Connect(HostToNetwork32(DottedParse(address)), port, true))
                return false;
            probe.Close();
        }
        return true;
    }

    static inline int serial = 0;
    std::filesystem::path folder;
    std::vector<std::string> addresses;
    std::string netns;
    int port = 0;
    int pid = -1;
};

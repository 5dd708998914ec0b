#pragma once
// Real FTP servers for tests and benchmarks, each one process on 127.0.0.1
// in the foreground, on free ports, stopped by its process id: vsftpd from a
// generated config, and pyftpdlib, from its command line or, for recording
// commands and refusing REST, through tests/doubles/ftp_server.py.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/net/ipv4_address.h"
#include "engine/net/qsocket.h"
#include "platform/child_process.h"
#include "platform/free_port.h"
#include "platform/tick.h"

class TFtpServerProcess {
public:
    TFtpServerProcess() = default;
    TFtpServerProcess(const TFtpServerProcess &) = delete;
    TFtpServerProcess &operator=(const TFtpServerProcess &) = delete;
    virtual ~TFtpServerProcess() { Stop(); }

    void Stop()
    {
        if (pid > 0) {
            platform::ResumeChildProcess(pid);
            platform::StopChildProcess(pid);
        }
        pid = -1;
        if (!folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
            folder.clear();
        }
    }

    int Pid() const { return pid; }
    int Port() const { return port; }
    // The folder of the server's own files (config, logs).
    const std::filesystem::path &Folder() const { return folder; }
    std::string Url(const std::string &path, const std::string &login = "") const
    {
        return "ftp://" + (login.empty() ? "" : login + "@") + "127.0.0.1:" + std::to_string(port) + path;
    }

protected:
    // Makes the server's folder and picks its ports: a control port and ten
    // passive ports above a second free one.
    bool Prepare(const char *name)
    {
        std::error_code ignored;
        folder = std::filesystem::temp_directory_path() /
                 (std::string("ql-") + name + "-" + std::to_string(platform::TickCount()) + "-" +
                  std::to_string(++serial));
        std::filesystem::create_directories(folder, ignored);
        port = platform::FreeLoopbackPort();
        passiveLow = platform::FreeLoopbackPort();
        return port != 0 && passiveLow != 0 && passiveLow + kPassivePorts <= 65535;
    }

    bool Launch(const std::vector<std::string> &argv)
    {
        pid = platform::StartChildProcess(argv);
        if (pid <= 0)
            return false;
        for (uint32_t waited = 0; waited < 10000; waited += 20) {
            QSocket probe;
            if (probe.Connect(HostToNetwork32(0x7F000001u), port, true)) {
                // A greeting, so the server's start-up is over.
                if (probe.WaitReadable(5) && probe.Receive() > 0)
                    return true;
            }
            platform::SleepMs(20);
        }
        Stop();
        return false;
    }

    static constexpr int kPassivePorts = 10;
    static inline int serial = 0;
    std::filesystem::path folder;
    int pid = -1;
    int port = 0;
    int passiveLow = 0;
};

struct TVsftpdOptions {
    // Lines of a multi-line greeting; none keeps the one-line default.
    std::vector<std::string> banner;
};

// vsftpd, anonymous and read-only. With no_anon_password it answers USER
// anonymous with 230 at once. Every command is logged to Log().
class TVsftpdServer : public TFtpServerProcess {
public:
    bool Start(const std::filesystem::path &root, const TVsftpdOptions &options = TVsftpdOptions())
    {
        if (!Prepare("vsftpd"))
            return false;
        std::error_code ignored;
        // vsftpd chroots into an empty folder that root owns and nobody may
        // write to; the served tree must be readable by its unprivileged user.
        std::filesystem::create_directories(folder / "empty", ignored);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                                                 std::filesystem::perms::others_exec,
                                     ignored);
        std::filesystem::permissions(folder / "empty",
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                         std::filesystem::perms::group_exec | std::filesystem::perms::others_exec,
                                     ignored);
        const std::string conf = (folder / "vsftpd.conf").string();
        std::ofstream out(conf);
        out << "background=NO\nlisten=YES\nlisten_address=127.0.0.1\nlisten_port=" << port << "\n"
            << "anonymous_enable=YES\nno_anon_password=YES\nlocal_enable=NO\nwrite_enable=NO\n"
            << "anon_root=" << root.string() << "\n"
            << "pasv_enable=YES\npasv_min_port=" << passiveLow << "\npasv_max_port=" << passiveLow + kPassivePorts
            << "\npasv_address=127.0.0.1\nseccomp_sandbox=NO\nsecure_chroot_dir=" << (folder / "empty").string()
            << "\nxferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\n"
            << "vsftpd_log_file=" << (folder / "vsftpd.log").string() << "\n";
        if (!options.banner.empty()) {
            std::ofstream banner(folder / "banner.txt");
            for (const std::string &line : options.banner)
                banner << line << "\n";
            out << "banner_file=" << (folder / "banner.txt").string() << "\n";
        }
        out.close();
        return Launch({"/usr/sbin/vsftpd", conf});
    }

    std::filesystem::path Log() const { return folder / "vsftpd.log"; }
};

struct TPyftpdOptions {
    // The address its 227 replies name instead of 127.0.0.1.
    std::string advertise;
    // Run through the double: record commands, refuse REST, pace transfers
    // to rate bytes per second, when asked.
    bool record = false;
    bool noRest = false;
    int rate = 0;
};

// pyftpdlib, anonymous and read-only. Its SIZE is refused in ASCII mode.
class TPyftpdServer : public TFtpServerProcess {
public:
    bool Start(const std::filesystem::path &root, const TPyftpdOptions &options = TPyftpdOptions())
    {
        if (!Prepare("pyftpd"))
            return false;
        const std::string passive = std::to_string(passiveLow) + "-" + std::to_string(passiveLow + kPassivePorts);
        if (options.record || options.noRest || options.rate > 0) {
            std::vector<std::string> argv{"/usr/bin/python3",
                                          std::string(QL_SOURCE_DIR) + "/tests/doubles/ftp_server.py",
                                          "--dir",
                                          root.string(),
                                          "--port",
                                          std::to_string(port),
                                          "--passive",
                                          passive,
                                          "--record",
                                          Record().string()};
            if (options.noRest)
                argv.push_back("--no-rest");
            if (options.rate > 0) {
                argv.push_back("--rate");
                argv.push_back(std::to_string(options.rate));
            }
            return Launch(argv);
        }
        std::vector<std::string> argv{"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p",
                                      std::to_string(port), "-d", root.string(), "-r", passive};
        if (!options.advertise.empty()) {
            argv.push_back("-n");
            argv.push_back(options.advertise);
        }
        return Launch(argv);
    }

    // One line per command: the client's control port, the command, its
    // argument.
    std::filesystem::path Record() const { return folder / "commands.txt"; }
};

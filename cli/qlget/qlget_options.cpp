#include "cli/qlget/qlget_options.h"

#include <charconv>
#include <cstdio>
#include <cstdint>

#include "cli/common/terminal_units.h"

namespace {
bool StartsWithNoCase(const std::string &text, const std::string &prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// The part between the scheme and the path, which the engine reads as
// [user[:password]@]host[:port] for ftp:// and host[:port] for http://;
// anything else there would only fail later, after retries.
bool CheckAuthority(const std::string &url, bool ftp, std::string &error)
{
    const size_t start = url.find("://") + 3;
    std::string authority = url.substr(start, url.find_first_of(ftp ? "/" : "/?#", start) - start);
    const size_t at = authority.find('@');
    if (at != std::string::npos && !ftp) {
        error = "http:// URLs cannot carry a user or password (user:password@): " + url;
        return false;
    }
    if (at != std::string::npos)
        authority = authority.substr(at + 1);
    const size_t colon = authority.find(':');
    if (authority.substr(0, colon).empty()) {
        error = "no host in " + url;
        return false;
    }
    if (colon == std::string::npos)
        return true;
    // The engine reads at most five digits.
    const std::string port = authority.substr(colon + 1);
    uint32_t value = 0;
    auto [end, problem] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (problem != std::errc() || end != port.data() + port.size() || port.size() > 5 || value == 0 ||
        value > 65535) {
        error = "the port must be a number from 1 to 65535: " + url;
        return false;
    }
    return true;
}

bool CheckPrintable(const std::string &url, std::string &error)
{
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7F) {
            error = "a URL cannot contain a blank or a control character (write a space as %20): " + url;
            return false;
        }
    }
    return true;
}

bool CheckUrl(const std::string &url, std::string &error)
{
    if (StartsWithNoCase(url, "https://")) {
        error = "https:// is not supported (the engine speaks plain HTTP): " + url;
        return false;
    }
    const bool ftp = StartsWithNoCase(url, "ftp://");
    if (!ftp && (!StartsWithNoCase(url, "http://") || url.size() == 7)) {
        error = "not an http:// or ftp:// URL: " + url;
        return false;
    }
    if (url.find_first_of("\r\n") != std::string::npos) {
        error = "a URL cannot contain a line break";
        return false;
    }
    return CheckPrintable(url, error) && CheckAuthority(url, ftp, error);
}

// A tracker is asked in clear over HTTP or UDP; the URL becomes one line of
// the task's source list.
bool CheckTrackerUrl(const std::string &url, std::string &error)
{
    if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "udp://")) {
        error = "a tracker URL must start with http:// or udp://: " + url;
        return false;
    }
    return CheckPrintable(url, error);
}

// A peer as "btnode://a.b.c.d:port", the only form the engine dials.
bool CheckPeer(const std::string &peer, std::string &error)
{
    const std::string prefix = "btnode://";
    unsigned a = 0, b = 0, c = 0, d = 0, port = 0;
    char tail = 0;
    if (!StartsWithNoCase(peer, prefix) ||
        std::sscanf(peer.c_str() + prefix.size(), "%3u.%3u.%3u.%3u:%5u%c", &a, &b, &c, &d, &port, &tail) != 5 ||
        a > 255 || b > 255 || c > 255 || d > 255 || port == 0 || port > 65535) {
        error = "a peer must read btnode://a.b.c.d:port: " + peer;
        return false;
    }
    return true;
}

bool ParsePort(const std::string &text, int32_t &port, std::string &error)
{
    uint32_t value = 0;
    auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        error = "--port needs a number from 1 to 65535";
        return false;
    }
    port = static_cast<int32_t>(value);
    return true;
}

// The torrent's file name without ".torrent".
std::string OutputNameOfTorrent(const std::string &torrent)
{
    std::string name = torrent.substr(torrent.find_last_of('/') + 1);
    const std::string suffix = ".torrent";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.erase(name.size() - suffix.size());
    return name;
}
} // namespace

std::string OutputNameOfUrl(const std::string &url)
{
    std::string path = url.substr(0, url.find_first_of("?#"));
    size_t hostStart = path.find("://");
    hostStart = hostStart == std::string::npos ? 0 : hostStart + 3;
    size_t pathStart = path.find('/', hostStart);
    if (pathStart == std::string::npos)
        return "";
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (name == "." || name == "..")
        return "";
    return name;
}

bool ParseQlgetOptions(const std::vector<std::string> &args, TQlgetOptions &options, std::string &error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            return true;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(options.output))
                return false;
        } else if (arg == "--torrent") {
            if (!value(options.torrent))
                return false;
        } else if (arg == "--tracker") {
            if (!value(text) || !CheckTrackerUrl(text, error))
                return false;
            options.trackers.push_back(text);
        } else if (arg == "--state") {
            if (!value(options.statePath))
                return false;
        } else if (arg == "--limit" || arg == "--upload-limit") {
            if (!value(text) ||
                !ParseSpeedLimit(arg, text, arg == "--limit" ? options.limitKBps : options.uploadLimitKBps, error))
                return false;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--peer") {
            if (!value(text) || !CheckPeer(text, error))
                return false;
            options.peers.push_back(text);
        } else if (arg == "--port") {
            if (!value(text) || !ParsePort(text, options.listenPort, error))
                return false;
        } else if (arg == "--seed") {
            options.seed = true;
        } else if (arg == "--http-wrap") {
            options.httpWrap = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            if (!CheckUrl(arg, error))
                return false;
            options.urls.push_back(arg);
        }
    }
    if (options.urls.empty() && options.torrent.empty()) {
        error = "no URL given";
        return false;
    }
    if (!options.peers.empty() && options.torrent.empty()) {
        error = "--peer needs --torrent";
        return false;
    }
    if (options.output.empty()) {
        options.output = options.urls.empty() ? OutputNameOfTorrent(options.torrent) : OutputNameOfUrl(options.urls.front());
        if (options.output.empty()) {
            error = "cannot name the output after " + (options.urls.empty() ? options.torrent : options.urls.front()) +
                    "; give one with -o";
            return false;
        }
    }
    if (options.statePath.empty())
        options.statePath = options.output + ".qlinfo";
    return true;
}

std::string QlgetUsage()
{
    return "Usage: qlget [-o PATH] [--torrent FILE] [--state PATH] [--limit KBPS] [--upload-limit KBPS]\n"
           "             [--tracker URL] [--force] [--peer btnode://A.B.C.D:PORT]... [--port N] [--seed] [--http-wrap] [URL...]\n"
           "Downloads one file from every URL given (mirrors of the same file) at once, and with\n"
           "--torrent from BitTorrent peers too; --torrent without a URL fetches from peers alone.\n"
           "URLs are http://host[:port]/path or ftp://[user[:password]@]host[:port]/path.\n"
           "\n"
           "  -o, --output PATH     where the file goes (default: the URL's last path element)\n"
           "  --torrent FILE        the file's torrent: its pieces are verified by SHA-1\n"
           "  --tracker URL         a tracker (http:// or udp://) to announce to; give it again for more\n"
           "  --state PATH          resume state (default: PATH.qlinfo beside the output)\n"
           "  --limit KBPS          download limit in KB/s, 1 to 32766 (0: none)\n"
           "  --upload-limit KBPS   upload limit in KB/s, 1 to 32766 (0: none)\n"
           "  --force               replace an existing output file: it stays as it is until the new\n"
           "                        download is complete, then the new file takes its place\n"
           "  --peer btnode://A.B.C.D:PORT  a BitTorrent peer to fetch from (repeatable)\n"
           "  --port N              listen for peers on TCP port N (default 8080 when peers are used)\n"
           "  --seed                after completion keep serving peers until Ctrl-C (exit 0)\n"
           "  --http-wrap           open peer connections behind an HTTP request line\n"
           "  -h, --help            this text\n"
           "\n"
           "Only regular files are ever replaced. One run at a time writes to an output.\n"
           "Stop with Ctrl-C; the same command continues where it stopped.\n"
           "Exit status: 0 complete, 2 bad arguments (also an output that is no regular file), 3 output\n"
           "exists, 4 the engine refused the task, 10 size never known, 11 disk full, 12 bad torrent,\n"
           "13 no source left, 14 file cannot be opened, 15 host not found, 16 stalled (no data for\n"
           "15 minutes), 17 not renamed after completion, 18 another qlget is writing the output,\n"
           "19 the servers' data does not match the torrent, 129/130/143 stopped by a hangup, an\n"
           "interrupt or a termination request.\n";
}

#pragma once
// Two network namespaces, side A (10.9.0.1) and side B (10.9.0.2), joined
// only by the tun_wire program: a point-to-point TUN device in each, and the
// wire, which delays and drops packets, running in a third namespace where
// it attached to both devices before they were moved out. Namespaces and
// devices are named after the pid and removed with the object; nothing
// reaches the host namespace.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "tests/integration/logged_child.h"
#include "tests/integration/network_namespace.h"

struct TWireSettings {
    int delayMs = 10;
    double lossPercent = 1.0;
    uint64_t seed = 1;
};

class TTunWireNamespaces {
public:
    static constexpr const char *kAddressA = "10.9.0.1";
    static constexpr const char *kAddressB = "10.9.0.2";

    TTunWireNamespaces() = default;
    TTunWireNamespaces(const TTunWireNamespaces &) = delete;
    TTunWireNamespaces &operator=(const TTunWireNamespaces &) = delete;
    ~TTunWireNamespaces()
    {
        Stop();
        for (const std::string &name : names)
            RunQuietly({kIpProgram, "netns", "delete", name});
    }

    // Makes the namespaces and devices and starts the wire program (its
    // output in log); empty when the path is up, else what failed.
    std::string Build(const std::string &program, const std::filesystem::path &log, const TWireSettings &settings)
    {
        const std::string pid = std::to_string(getpid());
        const std::string wireSpace = Add("qlWW" + pid);
        sideA = Add("qlWA" + pid);
        sideB = Add("qlWB" + pid);
        if (wireSpace.empty() || sideA.empty() || sideB.empty())
            return "cannot make the namespaces";
        const std::string deviceA = "qlwa" + pid;
        const std::string deviceB = "qlwb" + pid;
        if (!RunInNamespace(wireSpace, "ip tuntap add dev " + deviceA + " mode tun && ip tuntap add dev " + deviceB +
                                           " mode tun"))
            return "cannot make the TUN devices";
        wireLog = log;
        char loss[32];
        std::snprintf(loss, sizeof loss, "%g", settings.lossPercent);
        wire = StartInNamespace(wireSpace, log,
                                {program, deviceA, deviceB, "--delay-ms", std::to_string(settings.delayMs),
                                 "--loss-percent", loss, "--seed", std::to_string(settings.seed)});
        if (wire < 0 || !WaitForText(log, "ready"))
            return "the wire did not start: " + ReadLog(log);
        if (!RunInNamespace(wireSpace, "ip link set " + deviceA + " netns " + sideA + " && ip link set " + deviceB +
                                           " netns " + sideB))
            return "cannot move the devices";
        if (!RunInNamespace(sideA, PointToPoint(deviceA, kAddressA, kAddressB)) ||
            !RunInNamespace(sideB, PointToPoint(deviceB, kAddressB, kAddressA)))
            return "cannot address the devices";
        return std::string();
    }

    const std::string &SideA() const { return sideA; }
    const std::string &SideB() const { return sideB; }

    // Ends the wire; its output, which closes with what it forwarded and
    // dropped each way.
    std::string Stop()
    {
        if (wire > 0)
            platform::StopChildProcess(wire);
        wire = -1;
        return ReadLog(wireLog);
    }

private:
    std::string Add(const std::string &name)
    {
        if (!RunQuietly({kIpProgram, "netns", "add", name}))
            return std::string();
        names.push_back(name);
        // Without IPv6 the wire carries only the traffic of the run, so the
        // seeded drops fall on the same packets every time.
        RunInNamespace(name, "ip link set lo up && sysctl -qw net.ipv6.conf.all.disable_ipv6=1 "
                             "net.ipv6.conf.default.disable_ipv6=1");
        return name;
    }
    static std::string PointToPoint(const std::string &device, const char *local, const char *peer)
    {
        return "ip addr add " + std::string(local) + " peer " + peer + " dev " + device + " && ip link set " +
               device + " up";
    }
    std::vector<std::string> names;
    std::string sideA;
    std::string sideB;
    std::filesystem::path wireLog;
    int wire = -1;
};

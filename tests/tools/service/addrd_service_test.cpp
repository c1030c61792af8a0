// The address server's systemd unit: systemd rates its sandbox 2.0 or better,
// and tavolin-addrd still starts, answers and stops inside it. Without systemd
// as the service manager here, run_under_unit.sh gives it the unit's
// namespaces, identity and file system; the settings systemd enforces with a
// system-call filter are checked against a trace of what the daemon calls.
// The unit's own address (0.0.0.0:3478) is replaced by a free loopback port.
#include "tests/support/udp_peer.h"
#include "tests/tools/command_line/tool_process.h"
#include "transport/address/address_datagram.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {
using tools_test::Finished;
using tools_test::ToolProcess;

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, got);
        pclose(pipe);
    }
    return text;
}

// Why the sandbox cannot be built here, or an empty text.
std::string WhyNoSandbox() {
    if (geteuid() != 0) return "the sandbox needs root";
    // A chroot may not make user namespaces (PrivateUsers).
    if (std::system("unshare --user true 2>/dev/null") != 0) return "this machine makes no user namespaces";
    return {};
}

// The daemon inside the sandbox, started and asked once for the address a request came from.
class SandboxedAddrd {
public:
    explicit SandboxedAddrd(bool traced)
        : process_({"/usr/bin/env", std::string("STRACE=") + (traced ? "1" : ""), TAVOLIN_RUN_UNDER_UNIT,
                    TAVOLIN_ADDRD_UNIT, TAVOLIN_ADDRD_PATH, "--bind", "127.0.0.1", "--port", "0"}) {}

    // The port the daemon reported and answered a request on, or 0.
    uint16_t AnsweredPort() {
        if (!process_.WaitForOutput("\n", 10000)) return 0;
        const std::string out = process_.Wait(0).out;
        const size_t colon = out.find("listening on 127.0.0.1:");
        if (colon == std::string::npos) return 0;
        const auto port = static_cast<uint16_t>(std::stoi(out.substr(colon + 23)));
        testing_support::UdpPeer client;
        const uint8_t one[4] = {1, 0, 0, 0};
        std::vector<uint8_t> request;
        address_exchange::BuildDatagram(address_exchange::kTypePublicAddress, one, sizeof one, &request);
        client.SendTo(testing_support::kLoopback, port, request.data(), request.size());
        auto reply = client.Receive(3000);
        address_exchange::PublicAddress answer{};
        if (!reply || !address_exchange::ParseAddressReply(reply->bytes.data(), reply->bytes.size(), &answer) ||
            answer.port != client.Port())
            return 0;
        return port;
    }
    Finished StopWith(int signal) {
        // Already gone, it has no pid: kill(-1) would signal every process.
        if (process_.Pid() > 0) kill(process_.Pid(), signal);
        return process_.Wait(5000);
    }

private:
    ToolProcess process_;
};

// systemd's named system-call sets, each with its calls and the sets it includes.
std::map<std::string, std::vector<std::string>> SystemCallSets() {
    std::map<std::string, std::vector<std::string>> sets;
    std::istringstream lines(Output("systemd-analyze syscall-filter 2>/dev/null"));
    std::string line, current;
    while (std::getline(lines, line)) {
        if (line.rfind('@', 0) == 0) current = line;
        const size_t name = line.find_first_not_of(' ');
        if (!current.empty() && name == 4 && line[4] != '#') sets[current].push_back(line.substr(4));
    }
    return sets;
}

void Expand(const std::map<std::string, std::vector<std::string>>& sets, const std::string& set,
            std::set<std::string>* calls) {
    const auto found = sets.find(set);
    if (found == sets.end()) return;
    for (const std::string& member : found->second)
        member[0] == '@' ? Expand(sets, member, calls) : static_cast<void>(calls->insert(member));
}

TEST(AddrdService, SystemdRatesItsSandboxTwoOrBetter) {
    if (std::system("command -v systemd-analyze >/dev/null") != 0) GTEST_SKIP() << "systemd-analyze is missing";
    const std::string command =
        std::string("systemd-analyze security --offline=true --threshold=20 ") + TAVOLIN_ADDRD_UNIT + " 2>&1";
    const std::string report = Output(command);
    EXPECT_EQ(0, std::system((command + " >/dev/null").c_str())) << report;
}

TEST(AddrdService, StartsAnswersAndStopsInTheUnitsSandbox) {
    if (const std::string why = WhyNoSandbox(); !why.empty()) GTEST_SKIP() << why;
    // The sandbox itself: no capabilities, an unprivileged user, nothing writable, only its own processes.
    const Finished inside = tools_test::RunTool(
        {TAVOLIN_RUN_UNDER_UNIT, TAVOLIN_ADDRD_UNIT, "/bin/sh", "-c",
         "id -u; grep -E '^Cap(Eff|Bnd)' /proc/self/status; touch /etc/tavolin-test 2>/dev/null || echo read-only;"
         "ls /proc | grep -c '^[0-9]'; find /home /root -mindepth 1 | wc -l"});
    std::istringstream facts(inside.out);
    int uid = 0, processes = 0, homeEntries = -1;
    std::string effective, bounding, writable;
    facts >> uid >> effective >> effective >> bounding >> bounding >> writable >> processes >> homeEntries;
    EXPECT_GE(uid, 61184) << inside.out << inside.err;
    EXPECT_EQ("0000000000000000", effective);
    EXPECT_EQ("0000000000000000", bounding);
    EXPECT_EQ("read-only", writable);
    EXPECT_LE(processes, 4);  // sh, grep, ls: never the machine's
    EXPECT_EQ(0, homeEntries);

    SandboxedAddrd server(false);
    EXPECT_NE(0, server.AnsweredPort());
    const Finished stopped = server.StopWith(SIGTERM);
    EXPECT_EQ(0, stopped.status) << stopped.err;
    EXPECT_NE(std::string::npos, stopped.out.find("tavolin-addrd: stopped"));
}

// What the unit's filter allows: @system-service without @privileged and
// @resources, IPv4 sockets only, no memory both writable and executable, and
// none of the calls the other filter settings (personality, namespaces,
// realtime scheduling) restrict.
TEST(AddrdService, CallsNothingTheUnitsFilterRefuses) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's runtime makes calls of its own";
#endif
    if (const std::string why = WhyNoSandbox(); !why.empty()) GTEST_SKIP() << why;
    if (std::system("command -v strace >/dev/null && command -v systemd-analyze >/dev/null") != 0)
        GTEST_SKIP() << "strace or systemd-analyze is missing";
    const auto sets = SystemCallSets();
    std::set<std::string> allowed, refused;
    Expand(sets, "@system-service", &allowed);
    Expand(sets, "@privileged", &refused);
    Expand(sets, "@resources", &refused);
    for (const std::string& call : refused) allowed.erase(call);
    ASSERT_GT(allowed.size(), 100u);
    for (const char* restricted : {"personality", "unshare", "setns", "sched_setscheduler", "sched_setattr"})
        allowed.erase(restricted);

    SandboxedAddrd server(true);
    EXPECT_NE(0, server.AnsweredPort());
    const Finished traced = server.StopWith(SIGTERM);
    const std::regex callLine(R"(^(\[pid +\d+\] +)?([a-z0-9_]+)\((.*))");
    std::set<std::string> called;
    std::istringstream lines(traced.err);
    for (std::string line; std::getline(lines, line);) {
        std::smatch call;
        if (!std::regex_search(line, call, callLine)) continue;
        const std::string name = call[2], arguments = call[3];
        called.insert(name);
        EXPECT_TRUE(allowed.count(name)) << "the filter refuses " << line;
        if (name == "socket") {
            EXPECT_EQ(0u, arguments.find("AF_INET,")) << line;
        }
        if (name == "mmap" || name == "mprotect") {
            EXPECT_FALSE(arguments.find("PROT_WRITE") != std::string::npos &&
                         arguments.find("PROT_EXEC") != std::string::npos)
                << line;
        }
    }
    // The trace holds the whole start and the answer.
    EXPECT_TRUE(called.count("execve") && called.count("bind") && called.count("sendmsg")) << traced.err;
}
}  // namespace

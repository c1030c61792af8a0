// tavolin-addrd as a program: it names its port, answers a request (from
// the address it was sent to, when bound to every interface), and stops
// cleanly on SIGINT and SIGTERM; --answers-per-second sets each source's budget.
#include "tests/support/udp_peer.h"
#include "transport/address/address_datagram.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

extern char** environ;

namespace {
using testing_support::kLoopback;
using testing_support::UdpPeer;

class AddrdProcess {
public:
    explicit AddrdProcess(const char* bindAddress = "127.0.0.1", const char* answersPerSecond = "16") {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        char* argv[] = {const_cast<char*>(TAVOLIN_ADDRD_PATH),
                        const_cast<char*>("--bind"),
                        const_cast<char*>(bindAddress),
                        const_cast<char*>("--port"),
                        const_cast<char*>("0"),
                        const_cast<char*>("--answers-per-second"),
                        const_cast<char*>(answersPerSecond),
                        nullptr};
        if (posix_spawn(&pid_, TAVOLIN_ADDRD_PATH, &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        output_ = fds[0];
    }
    ~AddrdProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) close(output_);
    }

    // Reads the output until `text` appears or timeoutMs passes.
    bool WaitForOutput(const std::string& text, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (text_.find(text) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd readable{output_, POLLIN, 0};
            if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
            char chunk[256];
            const ssize_t got = read(output_, chunk, sizeof chunk);
            if (got <= 0) return false;
            text_.append(chunk, static_cast<size_t>(got));
        }
        return true;
    }

    // From "listening on ADDRESS:PORT".
    uint16_t Port() const {
        const size_t line = text_.find("listening on ");
        const size_t colon = line == std::string::npos ? line : text_.find(':', line + 13);
        return colon == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(text_.substr(colon + 1)));
    }

    // Exit status after `signal`, or -1 when it does not end within a second.
    int StopWith(int signal) {
        kill(pid_, signal);
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string text_;
};

TEST(AddrdTool, AnswersARequestAndStopsCleanlyOnEitherSignal) {
    for (int signal : {SIGTERM, SIGINT}) {
        AddrdProcess server;
        ASSERT_TRUE(server.started());
        ASSERT_TRUE(server.WaitForOutput("listening on", 3000));
        ASSERT_NE(server.Port(), 0);

        UdpPeer client;
        const uint8_t one[4] = {1, 0, 0, 0};
        std::vector<uint8_t> request;
        ASSERT_TRUE(address_exchange::BuildDatagram(address_exchange::kTypePublicAddress, one, 4, &request));
        ASSERT_TRUE(client.SendTo(kLoopback, server.Port(), request.data(), request.size()));
        auto reply = client.Receive(2000);
        ASSERT_TRUE(reply);
        address_exchange::PublicAddress answer{};
        ASSERT_TRUE(address_exchange::ParseAddressReply(reply->bytes.data(), reply->bytes.size(), &answer));
        EXPECT_EQ(answer.port, client.Port());

        EXPECT_EQ(server.StopWith(signal), 0);
        EXPECT_TRUE(server.WaitForOutput("stopped", 1000));
    }
}

TEST(AddrdTool, BoundToEveryInterfaceItAnswersFromTheAddressAsked) {
    constexpr uint32_t kSecondLoopback = 0x7F000002;
    AddrdProcess server("0.0.0.0");
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(server.WaitForOutput("listening on", 3000));
    ASSERT_NE(server.Port(), 0);
    UdpPeer client;
    const uint8_t one[4] = {1, 0, 0, 0};
    std::vector<uint8_t> request;
    ASSERT_TRUE(address_exchange::BuildDatagram(address_exchange::kTypePublicAddress, one, 4, &request));
    ASSERT_TRUE(client.SendTo(kSecondLoopback, server.Port(), request.data(), request.size()));
    const auto reply = client.Receive(2000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->fromAddress, kSecondLoopback);
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

TEST(AddrdTool, AnswersEachSourceNoMoreThanItsBudget) {
    AddrdProcess server("127.0.0.1", "1");  // a burst of 4
    ASSERT_TRUE(server.WaitForOutput("listening on", 3000));
    UdpPeer client;
    const uint8_t one[4] = {1, 0, 0, 0};
    std::vector<uint8_t> request;
    ASSERT_TRUE(address_exchange::BuildDatagram(address_exchange::kTypePublicAddress, one, 4, &request));
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(client.SendTo(kLoopback, server.Port(), request.data(), request.size()));
    EXPECT_EQ(client.ReceiveAll(200).size(), 4u);
}

}  // namespace

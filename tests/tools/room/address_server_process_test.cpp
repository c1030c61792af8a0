#include "testbed/address_server/address_server_process.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool CanBindLoopback(uint16_t port) {
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return bound;
}

TEST(AddressServerProcess, ListensOnTheNamedPortUntilItGoes) {
    std::string error;
    auto server = room::AddressServerProcess::Start(TAVOLIN_DEFAULT_ADDRD, &error);
    ASSERT_TRUE(server) << error;
    const uint16_t port = server->Port();
    ASSERT_NE(0, port);
    EXPECT_FALSE(CanBindLoopback(port));
    server.reset();
    EXPECT_TRUE(CanBindLoopback(port));
}

TEST(AddressServerProcess, SaysSoWhenTheProgramDoesNotListen) {
    std::string error;
    EXPECT_FALSE(room::AddressServerProcess::Start("/bin/true", &error));
    EXPECT_EQ("/bin/true did not start listening", error);
    EXPECT_FALSE(room::AddressServerProcess::Start("/nonexistent/tavolin-addrd", &error));
    EXPECT_NE(std::string::npos, error.find("cannot start /nonexistent/tavolin-addrd"));
}
}  // namespace

// The machine's own address comes from its interfaces, whatever its host name
// resolves to. Checked in network and host-name namespaces of a child process.
#include "platform/winsock.h"

#include <arpa/inet.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace platform_test {
namespace {

struct OwnAddresses {
    bool isolated;      // false: the machine does not allow the namespaces
    bool loopbackOnly;  // found with only the loopback interface up
    in_addr loopback;
    bool withInterface;  // found once an interface with an address is up too
    in_addr interface;
};

OwnAddresses LookUpInFreshNamespaces() {
    OwnAddresses result{};
    if (unshare(CLONE_NEWNET | CLONE_NEWUTS) != 0) return result;
    result.isolated = true;
    // A name no resolver knows: a name-server lookup could only fail.
    const std::string name = "tavolin-nowhere.invalid";
    if (sethostname(name.c_str(), name.size()) != 0) return result;
    if (std::system("ip link set lo up") != 0) return result;
    result.loopbackOnly = GetOwnHostAddress(&result.loopback);
    // v1 is up without an IPv4 address and must be passed over.
    if (std::system("ip link add v0 type veth peer name v1 && ip addr add 198.18.5.7/24 dev v0 && "
                    "ip link set v1 up && ip link set v0 up") != 0) {
        return result;
    }
    result.withInterface = GetOwnHostAddress(&result.interface);
    return result;
}

TEST(OwnHostAddress, IsAnInterfaceAddressPreferredToLoopback) {
    if (geteuid() != 0 || std::system("command -v ip >/dev/null") != 0) GTEST_SKIP() << "needs root and ip";
    int channel[2];
    ASSERT_EQ(0, pipe(channel));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const OwnAddresses found = LookUpInFreshNamespaces();
        const bool written = write(channel[1], &found, sizeof found) == static_cast<ssize_t>(sizeof found);
        _exit(written ? 0 : 1);
    }
    close(channel[1]);
    OwnAddresses found{};
    const ssize_t bytes = read(channel[0], &found, sizeof found);
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_EQ(static_cast<ssize_t>(sizeof found), bytes);
    if (!found.isolated) GTEST_SKIP() << "this machine does not allow network namespaces";

    ASSERT_TRUE(found.loopbackOnly);
    EXPECT_STREQ("127.0.0.1", inet_ntoa(found.loopback));
    ASSERT_TRUE(found.withInterface);
    EXPECT_STREQ("198.18.5.7", inet_ntoa(found.interface));
}

}  // namespace
}  // namespace platform_test

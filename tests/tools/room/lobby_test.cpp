#include "testbed/lobby.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {
using room::DirectoryLobby;
using room::PeerAddress;
using room::SharedLobby;

PeerAddress Address(int userId) {
    return PeerAddress{userId,
                       0xC6120002,
                       0x0A4D0102,
                       static_cast<uint16_t>(11000 + userId),
                       static_cast<uint16_t>(12000 + userId),
                       static_cast<uint16_t>(13000 + userId),
                       static_cast<uint16_t>(13500 + userId)};
}

std::vector<int> Ids(const std::vector<PeerAddress>& peers) {
    std::vector<int> ids;
    for (const PeerAddress& peer : peers) ids.push_back(peer.userId);
    return ids;
}

TEST(SharedLobby, EachPlayerTakesEveryOtherPlayerOnce) {
    SharedLobby lobby;
    lobby.Publish(Address(1));
    lobby.Publish(Address(2));
    EXPECT_EQ(std::vector<int>({2}), Ids(lobby.TakeNewPeers(1)));
    EXPECT_TRUE(lobby.TakeNewPeers(1).empty());
    lobby.Publish(Address(3));
    EXPECT_EQ(std::vector<int>({3}), Ids(lobby.TakeNewPeers(1)));
    const auto forThree = lobby.TakeNewPeers(3);
    ASSERT_EQ(std::vector<int>({1, 2}), Ids(forThree));
    EXPECT_EQ(Address(2), forThree[1]);
}

class DirectoryLobbyTest : public testing::Test {
protected:
    void SetUp() override {
        directory_ =
            std::filesystem::temp_directory_path() / ("room-lobby-" + std::to_string(getpid()) + "-" +
                                                      testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::filesystem::path directory_;
};

TEST_F(DirectoryLobbyTest, PlayersInOtherProcessesMeetThroughFiles) {
    DirectoryLobby first(directory_, std::chrono::milliseconds(0));
    DirectoryLobby second(directory_, std::chrono::milliseconds(0));
    ASSERT_TRUE(first.Publish(Address(1)));
    EXPECT_TRUE(first.TakeNewPeers(1).empty());  // not itself
    const auto seen = second.TakeNewPeers(2);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(Address(1), seen[0]);
    EXPECT_TRUE(second.TakeNewPeers(2).empty());  // once only
    ASSERT_TRUE(second.Publish(Address(2)));
    EXPECT_EQ(std::vector<int>({2}), Ids(first.TakeNewPeers(1)));
    // Published again at new ports (a relay that failed over): taken again.
    PeerAddress moved = Address(1);
    moved.videoPublicPort += 2;
    ASSERT_TRUE(first.Publish(moved));
    EXPECT_EQ(std::vector<PeerAddress>({moved}), second.TakeNewPeers(2));
    EXPECT_TRUE(second.TakeNewPeers(2).empty());
}

TEST_F(DirectoryLobbyTest, IgnoresFilesThatAreNotAPlayersRecord) {
    DirectoryLobby lobby(directory_, std::chrono::milliseconds(0));
    std::ofstream(lobby.PathOf(3)) << "3 198.18.0.2";                       // cut short
    std::ofstream(lobby.PathOf(4)) << room::FormatPeerAddress(Address(5));  // another player's record
    EXPECT_TRUE(lobby.TakeNewPeers(1).empty());
    std::ofstream(lobby.PathOf(3)) << room::FormatPeerAddress(Address(3));  // now complete
    EXPECT_EQ(std::vector<int>({3}), Ids(lobby.TakeNewPeers(1)));
}

TEST_F(DirectoryLobbyTest, LooksAtTheDirectoryAtMostOncePerInterval) {
    DirectoryLobby lobby(directory_, std::chrono::hours(1));
    EXPECT_TRUE(lobby.TakeNewPeers(1).empty());
    DirectoryLobby(directory_, std::chrono::milliseconds(0)).Publish(Address(2));
    EXPECT_TRUE(lobby.TakeNewPeers(1).empty());
}

TEST(PeerAddressText, RoundTripsAndRejectsBadFields) {
    const PeerAddress address = Address(7);
    const std::string text = room::FormatPeerAddress(address);
    EXPECT_EQ("7 198.18.0.2 10.77.1.2 11007 12007 13007 13507\n", text);
    EXPECT_EQ(address, room::ParsePeerAddress(text));
    EXPECT_FALSE(room::ParsePeerAddress("7 198.18.0.2 10.77.1.2 0 12007 13007 13507"));
    EXPECT_FALSE(room::ParsePeerAddress("7 198.18.0.2 10.77.1.2 70000 12007 13007 13507"));
    EXPECT_FALSE(room::ParsePeerAddress("7 198.18.0.300 10.77.1.2 11007 12007 13007 13507"));
}

TEST(DottedAddress, UsesHostOrderWithTheFirstComponentMostSignificant) {
    EXPECT_EQ("127.0.0.1", room::DottedAddress(0x7F000001));
    EXPECT_EQ(0xC6120001u, room::ParseDottedAddress("198.18.0.1"));
    EXPECT_FALSE(room::ParseDottedAddress("localhost"));
}
}  // namespace

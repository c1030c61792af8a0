#include "tools/room/room_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
std::optional<room::RoomOptions> Parse(std::vector<const char*> arguments, std::string* error = nullptr) {
    std::string ignored;
    arguments.insert(arguments.begin(), "tavolin-room");
    return room::ParseRoomOptions(static_cast<int>(arguments.size()), arguments.data(), error ? error : &ignored);
}

TEST(RoomOptions, DefaultsToThreePlayersForTenSeconds) {
    const auto options = Parse({});
    ASSERT_TRUE(options);
    EXPECT_EQ(3, options->players);
    EXPECT_EQ(10.0, options->seconds);
    EXPECT_EQ("room-out", options->outDirectory);
    EXPECT_FALSE(options->Joining());
}

TEST(RoomOptions, KeepsPlayersBetweenTwoAndSixteen) {
    EXPECT_EQ(2, Parse({"--players", "2"})->players);
    EXPECT_EQ(16, Parse({"--players", "16"})->players);
    EXPECT_FALSE(Parse({"--players", "1"}));
    EXPECT_FALSE(Parse({"--players", "17"}));
    EXPECT_FALSE(Parse({"--players", "3x"}));
}

TEST(RoomOptions, RejectsWhatItDoesNotKnow) {
    std::string error;
    EXPECT_FALSE(Parse({"--colour", "blue"}, &error));
    EXPECT_EQ("unknown option --colour", error);
    EXPECT_FALSE(Parse({"--seconds"}, &error));
    EXPECT_EQ("missing value after --seconds", error);
    EXPECT_FALSE(Parse({"--seconds", "0"}));
    EXPECT_FALSE(Parse({"--seconds", "nan"}));
    EXPECT_EQ(2.5, Parse({"--seconds", "2.5"})->seconds);
    EXPECT_TRUE(Parse({"--help"})->help);
}

TEST(RoomOptions, JoiningNeedsAnIdInTheRoomAndAServer) {
    const auto joined = Parse({"--join", "/tmp/lobby", "--id", "2", "--players", "2", "--server", "198.18.0.1:3478",
                               "--local-address", "10.77.1.2"});
    ASSERT_TRUE(joined);
    EXPECT_TRUE(joined->Joining());
    EXPECT_EQ(2, joined->id);
    EXPECT_EQ("10.77.1.2", joined->localAddress);
    EXPECT_FALSE(Parse({"--join", "/tmp/lobby", "--id", "3", "--players", "2", "--server", "198.18.0.1:3478"}));
    EXPECT_FALSE(Parse({"--join", "/tmp/lobby", "--id", "1", "--server", "198.18.0.1"}));
    EXPECT_FALSE(Parse({"--join", "/tmp/lobby", "--id", "1", "--server", "x:1", "--local-address", "10.77.1"}));
    EXPECT_FALSE(Parse({"--id", "1"}));  // only with --join
}

TEST(Endpoint, ParsesAddressAndPort) {
    uint32_t address = 0;
    uint16_t port = 0;
    ASSERT_TRUE(room::ParseEndpoint("198.18.0.1:3478", &address, &port));
    EXPECT_EQ(0xC6120001u, address);
    EXPECT_EQ(3478, port);
    EXPECT_FALSE(room::ParseEndpoint("198.18.0.1:0", &address, &port));
    EXPECT_FALSE(room::ParseEndpoint("198.18.0.1:65536", &address, &port));
    EXPECT_FALSE(room::ParseEndpoint("198.18.0.1", &address, &port));
}
}  // namespace

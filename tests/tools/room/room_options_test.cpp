#include "tools/room/room_options.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {
// The options, or nothing when the command line is refused; `error` gets
// what the tool printed on standard error.
std::optional<room::RoomOptions> Parse(std::vector<std::string> arguments, std::string* error = nullptr) {
    arguments.insert(arguments.begin(), "tavolin-room");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    room::RoomOptions options;
    testing::internal::CaptureStderr();
    const auto status = room::ReadRoomOptions(static_cast<int>(arguments.size()), argv.data(), &options);
    const std::string printed = testing::internal::GetCapturedStderr();
    if (error) *error = printed;
    if (status) return std::nullopt;
    return options;
}

TEST(RoomOptions, DefaultsToThreePlayersForTenSeconds) {
    const auto options = Parse({});
    ASSERT_TRUE(options);
    EXPECT_EQ(3, options->players);
    EXPECT_EQ(10.0, options->seconds);
    EXPECT_EQ("room-out", options->outDirectory);
    EXPECT_FALSE(options->Joining());
    EXPECT_FALSE(options->trace);
    EXPECT_TRUE(Parse({"--trace"})->trace);
    EXPECT_FALSE(Parse({"--trace=yes"})) << "a switch takes no value";
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
    EXPECT_EQ("tavolin-room: unknown option --colour\nTry 'tavolin-room --help' for more information.\n", error);
    EXPECT_FALSE(Parse({"--seconds"}, &error));
    EXPECT_EQ(0u, error.find("tavolin-room: option --seconds needs a value\n"));
    EXPECT_FALSE(Parse({"--seconds", "0"}, &error));
    EXPECT_EQ(0u, error.find("tavolin-room: --seconds 0: not a positive number of seconds\n"));
    EXPECT_FALSE(Parse({"--seconds", "nan"}));
    EXPECT_FALSE(Parse({"--out", ""}));
    EXPECT_FALSE(Parse({"--players", "3", "stray"}));
    EXPECT_EQ(2.5, Parse({"--seconds", "2.5"})->seconds);
    EXPECT_EQ(4, Parse({"--players=4"})->players);
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

TEST(RoomOptions, RelayServersComeInOrderEachOverUdpOrTcp) {
    const std::vector<std::string> credentials = {"--relay-user", "u", "--relay-password", "p"};
    std::vector<std::string> arguments = {"--relay", "198.18.0.1:3479",    "--relay", "tcp:198.18.0.2:443",
                                          "--relay", "udp:198.18.0.3:3478"};
    arguments.insert(arguments.end(), credentials.begin(), credentials.end());
    const auto options = Parse(arguments);
    ASSERT_TRUE(options);
    ASSERT_EQ(3u, options->relay.servers.size());
    EXPECT_EQ(TAVOLIN_RELAY_UDP, options->relay.servers[0].transport);
    EXPECT_EQ(0xC6120002u, options->relay.servers[1].address);
    EXPECT_EQ(443, options->relay.servers[1].port);
    EXPECT_EQ(TAVOLIN_RELAY_TCP, options->relay.servers[1].transport);
    EXPECT_EQ(TAVOLIN_RELAY_UDP, options->relay.servers[2].transport);
    EXPECT_EQ(TAVOLIN_RELAY_ALWAYS, options->relay.policy) << "the default with a server";
    std::vector<std::string> refused = {"--relay", "tls:198.18.0.1:443"};
    refused.insert(refused.end(), credentials.begin(), credentials.end());
    EXPECT_FALSE(Parse(refused));
    EXPECT_FALSE(Parse({"--relay", "198.18.0.1:3479"})) << "no credentials";
    // A policy alone: a room in one process starts a server of its own.
    const auto own = Parse({"--relay-policy", "auto"});
    ASSERT_TRUE(own);
    EXPECT_TRUE(own->relay.OwnServer());
    EXPECT_FALSE(Parse({})->relay.OwnServer());
    EXPECT_FALSE(Parse({"--join", "/tmp/x", "--id", "1", "--server", "127.0.0.1:5000", "--relay-policy", "auto"}));
    EXPECT_FALSE(Parse({"--relay-user", "u", "--relay-password", "p"}));
}
}  // namespace

namespace {
TEST(RoomOptions, ImpairmentsAreReadWithinTheirRangesAndOnlyForARoomInOneProcess) {
    const auto options = Parse({"--loss", "5", "--burst", "3", "--delay", "40", "--jitter", "10", "--reorder", "2.5",
                                "--duplicate", "1", "--seed", "42"});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->impairment.Active());
    EXPECT_EQ(5.0, options->impairment.lossPercent);
    EXPECT_EQ(3, options->impairment.burst);
    EXPECT_EQ(40.0, options->impairment.delayMs);
    EXPECT_EQ(10.0, options->impairment.jitterMs);
    EXPECT_EQ(2.5, options->impairment.reorderPercent);
    EXPECT_EQ(1.0, options->impairment.duplicatePercent);
    EXPECT_EQ(42u, options->impairment.seed);
    EXPECT_FALSE(Parse({})->impairment.Active());
    EXPECT_FALSE(Parse({"--loss", "101"}));
    EXPECT_FALSE(Parse({"--burst", "0"}));
    EXPECT_FALSE(Parse({"--delay", "-1"}));
    EXPECT_FALSE(Parse({"--seed", "x"}));
    std::string error;
    EXPECT_FALSE(Parse({"--join", "/tmp/x", "--id", "1", "--server", "127.0.0.1:5000", "--loss", "5"}, &error));
    EXPECT_NE(error.find("one process"), std::string::npos);
}
TEST(RoomOptions, AnEncryptedRoomTakesItsSecretOnlyWhenJoining) {
    const std::string secret(32, 'a');  // 16 bytes
    const std::vector<std::string> join = {"--join", "/tmp/x", "--id", "2", "--server", "127.0.0.1:5000", "--encrypt"};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), join.begin(), join.end());
        return more;
    };
    EXPECT_EQ(4u, Parse(with({"--room-secret", secret, "--epoch", "4"}))->epoch);
    for (const auto& refused : {std::vector<std::string>{"--encrypt", "--room-secret", secret}, with({}),
                                with({"--room-secret", secret.substr(2)}), with({"--room-secret", secret + "g0"})})
        EXPECT_FALSE(Parse(refused)) << refused.back();
}

TEST(RoomOptions, VoiceControlsNameOnlyPlayersOfTheRoomAndOneTransmitMode) {
    const auto options = Parse({"--players", "4", "--push-to-talk", "1500:2500:30:60", "--volume", "2:50", "--volume",
                                "3:200", "--mute", "4", "--mute", "2"});
    ASSERT_TRUE(options);
    EXPECT_EQ(TAVOLIN_VOICE_TRANSMIT_PUSH_TO_TALK, options->voice.transmitMode);
    EXPECT_EQ((std::vector<int>{1500, 2500, 30, 60}), options->voice.pushToTalkMs);
    EXPECT_EQ((std::map<int, int>{{2, 50}, {3, 200}}), options->voice.volumePercent);
    EXPECT_EQ((std::set<int>{2, 4}), options->voice.muted);
    EXPECT_EQ(TAVOLIN_VOICE_TRANSMIT_VOICE_ACTIVITY, Parse({"--voice-activity"})->voice.transmitMode);
    EXPECT_EQ(TAVOLIN_VOICE_TRANSMIT_ALWAYS, Parse({})->voice.transmitMode);
    for (const char* pattern : {"1500", "1500:", "1500:2500:40", "29:100", "100:60001", "a:b"})
        EXPECT_FALSE(Parse({"--push-to-talk", pattern})) << pattern;
    EXPECT_FALSE(Parse({"--volume", "2:201"}));
    EXPECT_FALSE(Parse({"--volume", "2"}));
    std::string error;
    EXPECT_FALSE(Parse({"--mute", "4"}, &error));
    EXPECT_NE(error.find("--mute names no player"), std::string::npos);
    EXPECT_FALSE(Parse({"--volume", "0:50"}));
    EXPECT_FALSE(Parse({"--voice-activity", "--push-to-talk", "100:100"}, &error));
    EXPECT_NE(error.find("exclude each other"), std::string::npos);
}

// Four players take turns on a 1 s down, 3 s up pattern.
TEST(PushToTalkPattern, EachPlayerPressesItsShareOfThePeriodLate) {
    using std::chrono::milliseconds;
    const std::vector<int> pattern{1000, 3000};
    EXPECT_TRUE(room::KeyDown(pattern, 0, 4, milliseconds(0)));
    EXPECT_TRUE(room::KeyDown(pattern, 0, 4, milliseconds(999)));
    EXPECT_FALSE(room::KeyDown(pattern, 0, 4, milliseconds(1000)));
    EXPECT_TRUE(room::KeyDown(pattern, 0, 4, milliseconds(4000)));
    EXPECT_FALSE(room::KeyDown(pattern, 1, 4, milliseconds(999)));
    EXPECT_TRUE(room::KeyDown(pattern, 1, 4, milliseconds(1000)));
    EXPECT_FALSE(room::KeyDown(pattern, 1, 4, milliseconds(2000)));
    EXPECT_TRUE(room::KeyDown(pattern, 3, 4, milliseconds(3500)));
    EXPECT_TRUE(room::KeyDown(pattern, 3, 4, milliseconds(7999)));
    EXPECT_FALSE(room::KeyDown({}, 0, 4, milliseconds(0)));
}
}  // namespace

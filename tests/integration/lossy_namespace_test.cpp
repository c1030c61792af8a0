// A room whose every UDP datagram may be dropped by the kernel (nftables in a
// network namespace of its own), as on a real lossy path: the viewers ask for
// what is missing and keep showing nearly every frame.
#include "tests/integration/player_lab.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace {
using integration::NamespaceProcess;
using integration::NetworkLab;
using integration::NumbersOf;
using integration::ReadFile;

constexpr int kLossPercent = 5;
constexpr int kSeconds = 10;
constexpr auto kExitAllowance = std::chrono::seconds(20);
// Well below the room's own goal, so a loaded machine does not fail the run;
// the note gives the measured figures.
constexpr double kLeastShareShown = 0.8;

TEST(LossyNamespace, ThreePlayersRecoverLostPacketsAndShowNearlyEveryFrame) {
    const std::string why = NetworkLab::WhyUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("room-lossy-" + std::to_string(getpid()));
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);

    NetworkLab lab;
    const std::string ns = lab.AddNamespace("lossy");
    lab.DropUdpAtRandom(ns, kLossPercent);
    ASSERT_TRUE(lab.Ok()) << lab.FailedCommand();
    const std::string out = (directory / "out").string();
    NamespaceProcess room(ns,
                          {TAVOLIN_ROOM_PATH, "--players", "3", "--seconds", std::to_string(kSeconds), "--out", out},
                          (directory / "room.txt").string());
    ASSERT_TRUE(room.Started());
    const std::optional<int> status = room.Wait(std::chrono::seconds(kSeconds) + kExitAllowance);
    const std::string printed = ReadFile((directory / "room.txt").string());
    // The room's exit status also judges voice, whose lost frames are
    // concealed, not resent; what is asked here is the video.
    EXPECT_TRUE(status.has_value()) << printed;
    const std::string stats = ReadFile(out + "/stats.json");
    EXPECT_NE(std::string::npos, stats.find("\"success\":true")) << "every viewer decoded every sender\n" << printed;
    const std::vector<double> shown = NumbersOf(stats, "shown_share");
    EXPECT_EQ(6u, shown.size()) << printed;
    for (double share : shown) EXPECT_GE(share, kLeastShareShown) << printed;
    double nacks = 0, recovered = 0;
    for (double n : NumbersOf(stats, "nacks_sent")) nacks += n;
    for (double n : NumbersOf(stats, "packets_recovered")) recovered += n;
    EXPECT_GT(nacks, 0) << "the kernel dropped packets, so viewers asked for them";
    EXPECT_GT(recovered, 0) << printed;
    if (!HasFailure()) std::filesystem::remove_all(directory);
}

}  // namespace

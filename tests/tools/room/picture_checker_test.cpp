// The demo's picture checks off the engine threads: every picture looked at
// in the order shown, those without a free buffer counted, never waited for,
// and told in their place.
#include "testbed/measurement/pair_record.h"
#include "testbed/measurement/picture_checker.h"
#include "tests/tools/room/stamped_picture.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {
using room::PictureChecker;
using room::PictureInspector;

std::vector<uint8_t> Picture(uint8_t fill) { return std::vector<uint8_t>(room::kPictureBytes, fill); }

// Records what it is given; with `hold` set, the first Inspect waits until Release.
class RecordingInspector : public PictureInspector {
public:
    void Inspect(const uint8_t* picture, double shownAt) override {
        std::unique_lock lock(mutex_);
        inspected.push_back({picture[0], picture[room::kPictureBytes - 1], shownAt});
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !hold; });
    }
    void Missed(double shownAt) override {
        std::lock_guard lock(mutex_);
        inspected.push_back({0, 0, shownAt});
        ++missed;
    }
    void WaitUntilInspecting() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        hold = false;
        changed_.notify_all();
    }

    struct Seen {
        uint8_t first, last;
        double shownAt;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> inspected;
    int missed = 0;
    bool hold = false;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
};

TEST(PictureChecker, LooksAtEveryPictureInTheOrderShownFromItsOwnCopy) {
    RecordingInspector preview, remote;
    PictureChecker checker(4);
    std::vector<RecordingInspector::Seen> expectedPreview, expectedRemote;
    for (uint8_t i = 0; i < 20; ++i) {
        std::vector<uint8_t> picture = Picture(i);
        checker.Submit(i % 2 ? remote : preview, picture.data(), i * 0.1);
        std::fill(picture.begin(), picture.end(), 0xFF);  // the engine reuses its buffer at once
        (i % 2 ? expectedRemote : expectedPreview).push_back({i, i, i * 0.1});
        while (checker.Checked() + 2 < i) std::this_thread::yield();  // a buffer free for the next
    }
    checker.Finish();
    EXPECT_EQ(preview.inspected, expectedPreview);
    EXPECT_EQ(remote.inspected, expectedRemote);
    EXPECT_EQ(checker.Checked(), 20u);
    EXPECT_EQ(checker.Missed(), 0u);
}

TEST(PictureChecker, APictureWithoutAFreeBufferIsCountedNotWaitedFor) {
    RecordingInspector inspector;
    inspector.hold = true;
    PictureChecker checker(2);
    checker.Submit(inspector, Picture(1).data(), 0.1);
    inspector.WaitUntilInspecting();                    // the first buffer is being looked at
    checker.Submit(inspector, Picture(2).data(), 0.2);  // the second waits
    checker.Submit(inspector, Picture(3).data(), 0.3);  // none left: missed, at once
    EXPECT_EQ(checker.Missed(), 1u);
    inspector.Release();
    checker.Finish();
    EXPECT_EQ(inspector.inspected, (std::vector<RecordingInspector::Seen>{{1, 1, 0.1}, {2, 2, 0.2}, {0, 0, 0.3}}))
        << "the missed picture is told after those before it";
    EXPECT_EQ(inspector.missed, 1);
    EXPECT_EQ(checker.Checked(), 2u);
    checker.Submit(inspector, Picture(4).data(), 0.4);  // after Finish: only counted
    EXPECT_EQ(checker.Missed(), 2u);
    EXPECT_EQ(inspector.missed, 1);
}

TEST(PairRecord, APictureNotCheckedCountsAsDrawnAndHidesNoLoss) {
    room::PairRecord record;
    record.OnPicture(room_testing::StampedPicture(10).data(), 1.0, nullptr);
    record.OnMissed(1.1);  // frame 11, shown but not looked at
    record.OnPicture(room_testing::StampedPicture(12).data(), 1.2, nullptr);
    record.OnPicture(room_testing::StampedPicture(14).data(), 1.4, nullptr);  // 13 lost
    const room::PairSummary summary = record.Summarize(1, 2, nullptr);
    EXPECT_EQ(summary.frames, 4u);
    EXPECT_EQ(summary.stamped, 3u);
    EXPECT_EQ(summary.lost, 1u) << "the gap around the picture not checked is not counted";
    EXPECT_NEAR(*summary.stillMaxMs, 200.0, 1e-6) << "the view did not stand still while it was shown";
}

}  // namespace

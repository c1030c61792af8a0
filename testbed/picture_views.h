// The host's views: one per user of a player's engine. The local user's view
// records the sender's own preview; every other user's view records what this
// player was shown of that sender. DrawFrame only copies the picture for the
// room's picture checker, which records it on its own thread.
#pragma once

#include "testbed/measurement/pair_record.h"
#include "testbed/measurement/picture_checker.h"
#include "testbed/measurement/source_frames.h"

#include <tavolin/tavolin.h>

#include <atomic>
#include <functional>

namespace room {

using Clock = std::function<double()>;  // seconds since the room started

class PictureView : public ITavolinUserView, private PictureInspector {
public:
    PictureView(const Clock& clock, PictureChecker& checker) : clock_(clock), checker_(checker) {}

    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    // The picture's size comes from the header: for decoded pictures `length`
    // is the number of coded bytes consumed, not the picture's size. Pictures
    // whose header does not describe 160 x 120 x 24 bits bottom-up are counted
    // and not looked at.
    int DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int length) override;
    int SetLevel(int) override { return 1; }
    int Reserved() override { return 0; }
    int OnVideoEnabled(int) override { return 1; }
    int OnAudioEnabled(int) override { return 1; }

    uint64_t Malformed() const { return malformed_.load(std::memory_order_relaxed); }

private:
    const Clock& clock_;
    PictureChecker& checker_;
    std::atomic<uint64_t> malformed_{0};
};

class PreviewView final : public PictureView {
public:
    PreviewView(const Clock& clock, PictureChecker& checker, SourceFrames& source)
        : PictureView(clock, checker), source_(source) {}

private:
    void Inspect(const uint8_t* picture, double now) override { source_.OnPreview(picture, now); }
    void Missed(double now) override { source_.OnMissed(now); }
    SourceFrames& source_;
};

class RemoteView final : public PictureView {
public:
    // `source` is the sender's preview record, or null when it is not in this process.
    RemoteView(const Clock& clock, PictureChecker& checker, PairRecord& record, const SourceFrames* source)
        : PictureView(clock, checker), record_(record), source_(source) {}

private:
    void Inspect(const uint8_t* picture, double now) override { record_.OnPicture(picture, now, source_); }
    void Missed(double now) override { record_.OnMissed(now); }
    PairRecord& record_;
    const SourceFrames* source_;
};

}  // namespace room

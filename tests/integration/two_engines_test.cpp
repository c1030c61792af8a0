// Two engines of the library, loaded with dlopen as a game client loads it,
// each on a thread of its own, and the address server on loopback: they
// learn their public addresses, greet each other, and carry voice from a
// voice component the host registers, and video, to the other side.
#include "testbed/address_server/address_server_process.h"
#include "testbed/lobby.h"
#include "testbed/room.h"

#include <tavolin/tavolin.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {
using namespace std::chrono_literals;

constexpr int kVoiceFrameBytes = 50;
constexpr int kVoiceFramesPerPlayer = 20;
constexpr auto kVoiceFramePeriod = 40ms;

// Voice frame `sequence` of player `userId`: recognisable bytes.
std::vector<uint8_t> VoiceFrame(int userId, int sequence) {
    std::vector<uint8_t> frame(kVoiceFrameBytes);
    for (int i = 0; i < kVoiceFrameBytes; ++i)
        frame[static_cast<size_t>(i)] = static_cast<uint8_t>(userId * 61 + sequence * 7 + i);
    return frame;
}

struct PlayedFrame {
    int userId;
    std::vector<uint8_t> bytes;
};

// A voice component as a host registers it: it records what the engine hands
// it to play, and sends a frame through the engine's audio sink when asked,
// on the engine's thread, while sending is switched on.
class TestVoiceComponent : public ITavolinAudioEngine {
public:
    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!IsEqualGUID(iid, IID_ITavolinAudioEngine) && !IsEqualGUID(iid, IID_IUnknown)) return E_NOINTERFACE;
        *out = static_cast<ITavolinAudioEngine*>(this);
        AddRef();
        return S_OK;
    }
    // The test owns the object; the count only proves every reference is given back.
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override { return --references_; }
    int Init(HWND, HWND, ITavolinAudioSink* sink) override {
        sink_ = sink;
        return 1;
    }
    int PlayAudio(int userId, const uint8_t* data, int length) override {
        std::lock_guard lock(mutex_);
        played_.push_back({userId, std::vector<uint8_t>(data, data + length)});
        return 1;
    }
    int RemoveUser(int) override { return 1; }
    int SetEngine(ITavolinEngine* engine) override {
        engine_ = engine;
        return 1;
    }
    int Destroy() override {
        ++destroyed_;
        return 1;
    }
    int StartSend() override {
        sending_ = true;
        return 1;
    }
    int StopSend() override {
        sending_ = false;
        return 1;
    }
    int Reserved() override { return 0; }
    int GetLevel(int, int) override { return 0; }

    void SendIfSending(const std::vector<uint8_t>& frame) {
        if (sending_ && sink_) sink_->OnEncodedAudio(frame.data(), static_cast<int>(frame.size()));
    }
    ITavolinEngine* Engine() const { return engine_; }
    int References() const { return references_; }
    int Destroyed() const { return destroyed_; }
    std::vector<PlayedFrame> Played() const {
        std::lock_guard lock(mutex_);
        return played_;
    }

private:
    std::atomic<int> references_{0};
    std::atomic<int> destroyed_{0};
    ITavolinAudioSink* sink_ = nullptr;
    ITavolinEngine* engine_ = nullptr;
    bool sending_ = false;
    mutable std::mutex mutex_;
    std::vector<PlayedFrame> played_;
};

// Every component the engines created, in creation order.
std::mutex g_componentsMutex;
std::vector<std::unique_ptr<TestVoiceComponent>> g_components;

HRESULT CreateTestVoiceComponent(const IID* iid, void** out) {
    std::lock_guard lock(g_componentsMutex);
    g_components.push_back(std::make_unique<TestVoiceComponent>());
    return g_components.back()->QueryInterface(*iid, out);
}

TestVoiceComponent* ComponentOf(ITavolinEngine* engine) {
    std::lock_guard lock(g_componentsMutex);
    for (const auto& component : g_components)
        if (component->Engine() == engine) return component.get();
    return nullptr;
}

size_t IndexOf(const std::vector<room::EngineEvent>& events, const room::EngineEvent& wanted) {
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i] == wanted) return i;
    ADD_FAILURE() << "no event " << wanted.kind << " of user " << wanted.userId << ", medium " << wanted.medium;
    return events.size();
}

// What a host hears from its engine: the camera runs; per medium the public
// address comes first (until then the session hears nothing else), then the
// peer's answer to the greeting and its media, each exactly once.
void ExpectEventsInOrder(const std::vector<room::EngineEvent>& events, int self, int other) {
    for (const int medium : {TAVOLIN_MEDIUM_VOICE, TAVOLIN_MEDIUM_VIDEO}) {
        const size_t address = IndexOf(events, {TAVOLIN_EVENT_PUBLIC_ADDRESS, -1, medium});
        const size_t greeted = IndexOf(events, {TAVOLIN_EVENT_PEER_GREETED, other, medium});
        const size_t media = IndexOf(events, {TAVOLIN_EVENT_MEDIA_STARTED, other, medium});
        EXPECT_LT(address, greeted);
        EXPECT_LT(address, media);
        for (const room::EngineEvent& once : {events[greeted], events[media]})
            EXPECT_EQ(1, std::count(events.begin(), events.end(), once));
    }
    IndexOf(events, {TAVOLIN_EVENT_CAMERA_STARTED, self, TAVOLIN_MEDIUM_VIDEO});
    for (const room::EngineEvent& event : events) {
        EXPECT_NE(TAVOLIN_EVENT_CAMERA_FAILED, event.kind);
        EXPECT_NE(TAVOLIN_EVENT_PUBLIC_ADDRESS_TIMEOUT, event.kind);
    }
}

TEST(TwoEngines, LearnTheirAddressesGreetAndCarryVoiceAndVideo) {
    std::string error;
    const auto library = room::TavolinLibrary::Load(TAVOLIN_DEFAULT_LIBRARY, &error);
    ASSERT_TRUE(library) << error;
    const auto server = room::AddressServerProcess::Start(TAVOLIN_DEFAULT_ADDRD, &error);
    ASSERT_TRUE(server) << error;
    ASSERT_EQ(S_OK, library->RegisterComponent(CLSID_TavolinAudioEngine, &CreateTestVoiceComponent));

    room::SharedLobby lobby;
    std::vector<room::RoomPlayer> players;
    for (int id : {1, 2})
        players.push_back(room::SyntheticCameraPlayer(id, room::kLoopbackAddress, room::kLoopbackAddress,
                                                      server->Port()));
    room::Room room(*library, std::move(players), 2, lobby);
    ASSERT_TRUE(room.Start(&error)) << error;
    const bool connected = room.WaitFor(
        [&] {
            const room::RoomStatus status = room.Status();
            return status.playersWithAllPeers == 2 && status.pairsWithVideo == 2;
        },
        10s);
    // Voice frames go out on each engine's thread, through its own component.
    for (int sequence = 0; connected && sequence < kVoiceFramesPerPlayer; ++sequence) {
        for (int id : {1, 2})
            room.Post(id, [sequence](room::PlayerContext& player) {
                if (TestVoiceComponent* component = ComponentOf(&player.Engine()))
                    component->SendIfSending(VoiceFrame(player.UserId(), sequence));
            });
        std::this_thread::sleep_for(kVoiceFramePeriod);
    }
    std::this_thread::sleep_for(200ms);
    room.Stop();
    library->RegisterComponent(CLSID_TavolinAudioEngine, nullptr);
    ASSERT_TRUE(connected);

    const room::RoomReport report = room.Report();
    for (int id : {1, 2}) {
        SCOPED_TRACE(testing::Message() << "player " << id);
        const int other = 3 - id;
        const room::PlayerOutcome& player = *report.PlayerOf(id);
        ASSERT_TRUE(player.ownAddress) << "no public address through the event sink";
        EXPECT_EQ(room::kLoopbackAddress, player.ownAddress->publicAddress);
        EXPECT_NE(0, player.ownAddress->audioPublicPort);
        EXPECT_NE(0, player.ownAddress->videoPublicPort);
        EXPECT_EQ(std::set<int>({other}), player.peersAdded);
        EXPECT_GE(room.Log().Count(id, "收到rehi"), 1u) << "the greeting was not answered";
        ExpectEventsInOrder(player.events, id, other);
        EXPECT_GT(report.Pair(id, other)->frames, 0u) << "no picture drawn";
    }

    std::lock_guard lock(g_componentsMutex);
    ASSERT_EQ(2u, g_components.size());
    for (const auto& component : g_components) {
        EXPECT_EQ(1, component->Destroyed());
        EXPECT_EQ(0, component->References());
        ASSERT_NE(nullptr, component->Engine());
        const auto played = component->Played();
        ASSERT_FALSE(played.empty()) << "no voice reached the component";
        const int sender = played.front().userId;
        EXPECT_TRUE(sender == 1 || sender == 2);
        // Every frame arrives whole, once, from the other player, in the order sent.
        int next = 0;
        for (const PlayedFrame& frame : played) {
            EXPECT_EQ(sender, frame.userId);
            int sequence = next;
            while (sequence < kVoiceFramesPerPlayer && frame.bytes != VoiceFrame(sender, sequence)) ++sequence;
            EXPECT_LT(sequence, kVoiceFramesPerPlayer) << "a frame that was never sent, sent twice or out of order";
            next = sequence + 1;
        }
        EXPECT_GE(played.size(), static_cast<size_t>(kVoiceFramesPerPlayer) * 3 / 4);
    }
    EXPECT_NE(g_components[0]->Played().front().userId, g_components[1]->Played().front().userId);
}
}  // namespace

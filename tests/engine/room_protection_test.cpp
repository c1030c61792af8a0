// The host's encrypted-room interface: what it takes before and after
// Create, the new epoch an engine created again needs, and the counts and
// the event of a peer whose datagrams keep failing to open.
#include "engine/window_messages.h"
#include "tests/engine/engine_fixture.h"
#include "tests/transport/transport_test_support.h"
#include "transport/address/address_server.h"

#include <atomic>
#include <chrono>
#include <functional>

namespace {
using namespace testing_support;

constexpr int kPeerId = 7;
constexpr int kFailing = 60;  // beyond the event's 50 in a row

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < deadline) TavolinPumpMessages(10);
    return done();
}

class RoomProtection : public testing::Test, private ITavolinEventListener {
protected:
    void SetUp() override {
        TavolinRegisterComponent(&CLSID_TavolinAudioEngine, nullptr);
        ASSERT_TRUE(server_.Start(kLoopback, 0));
        ASSERT_EQ(S_OK,
                  DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine_)));
        // The interfaces share the engine's one count: the test's Release is the last.
        ASSERT_EQ(S_OK, engine_->QueryInterface(IID_ITavolinRoomProtection, reinterpret_cast<void**>(&protection_)));
        protection_->Release();
        ITavolinEvents* events = nullptr;
        ASSERT_EQ(S_OK, engine_->QueryInterface(IID_ITavolinEvents, reinterpret_cast<void**>(&events)));
        events->Subscribe(this);
        events->Release();
        static std::atomic<uint8_t> rooms{0};
        secret_.assign(32, static_cast<uint8_t>(0x40 + rooms++));  // no other test's keys
    }
    void TearDown() override { engine_->Release(); }

    int Keys(uint32_t epoch, size_t secretBytes = 32) {
        return protection_->SetRoomKeys(kRoom, sizeof kRoom, epoch, secret_.data(), static_cast<int>(secretBytes));
    }
    int Create() { return engine_->Create(TestInstance(), kLoopback, server_.Port(), 1, 0, 1); }
    void OnEvent(const TavolinEvent* event) override {
        if (event->kind == TAVOLIN_EVENT_PEER_UNAUTHENTICATED) unauthenticated.push_back(event->userId);
        if (event->kind == TAVOLIN_EVENT_PUBLIC_ADDRESS) ++addresses;
    }

    static constexpr uint8_t kRoom[] = {'r', 'o', 'o', 'm'};
    CAddressServerThread server_;
    ITavolinEngine* engine_ = nullptr;
    ITavolinRoomProtection* protection_ = nullptr;
    std::vector<uint8_t> secret_;
    std::vector<int> unauthenticated;
    int addresses = 0;
};

TEST_F(RoomProtection, TakesTheModeBeforeCreateAndOnlyNewerEpochsAndAnEngineCreatedAgainNeedsANewOne) {
    EXPECT_EQ(0, protection_->SetRoomMode(2));
    EXPECT_EQ(0, Keys(1, 15)) << "a secret too short";
    ASSERT_EQ(1, protection_->SetRoomMode(TAVOLIN_ROOM_ENCRYPTED));
    EXPECT_EQ(0, Create()) << "an encrypted room without keys";
    ASSERT_EQ(1, Keys(3));
    EXPECT_EQ(0, Keys(3));
    ASSERT_EQ(1, Create());
    EXPECT_EQ(0, protection_->SetRoomMode(TAVOLIN_ROOM_PLAIN)) << "after Create";
    EXPECT_EQ(1, Keys(4)) << "a new epoch during the call";
    engine_->Destroy();
    EXPECT_EQ(0, Create()) << "epoch 4 was sent with: its keys would repeat packet indexes";
    engine_->Destroy();
    ASSERT_EQ(1, Keys(5));
    EXPECT_EQ(1, Create());
    engine_->Destroy();
}

TEST_F(RoomProtection, APeerWhoseDatagramsDoNotOpenIsCountedAndToldOfOnce) {
    ASSERT_EQ(1, protection_->SetRoomMode(TAVOLIN_ROOM_ENCRYPTED));
    ASSERT_EQ(1, Keys(1));
    ASSERT_EQ(1, Create());
    ASSERT_TRUE(PumpUntil([&] { return addresses == 2; }, 3000));
    UdpPeer peer;
    ASSERT_EQ(1, engine_->AddUser(kPeerId, kLoopback, kLoopback));
    ASSERT_EQ(1, engine_->SetUserAudioPort(kPeerId, peer.Port(), peer.Port()));
    // A plain player: its voice cannot open here.
    for (int i = 0; i < kFailing; ++i) {
        const auto datagram = transport_testing::RtpDatagram(102, static_cast<uint16_t>(i), 0, 0x77,
                                                             std::vector<uint8_t>(51, static_cast<uint8_t>(i)));
        ASSERT_TRUE(peer.SendTo(kLoopback, engine_->GetLocalAudioPort(), datagram.data(), datagram.size()));
    }
    ITavolinStatistics* statistics = nullptr;
    ASSERT_EQ(S_OK, engine_->QueryInterface(IID_ITavolinStatistics, reinterpret_cast<void**>(&statistics)));
    statistics->Release();
    TavolinPeerStatistics figures{};
    figures.size = sizeof figures;
    const auto dropped = [&] {
        statistics->GetPeerStatistics(kPeerId, &figures);
        return figures.authenticationFailures + figures.unknownEpochDropped;
    };
    ASSERT_TRUE(PumpUntil([&] { return dropped() == kFailing; }, 3000)) << dropped();
    EXPECT_EQ(1, figures.encrypted);
    EXPECT_EQ(0u, figures.packetsAuthenticated);
    EXPECT_EQ(0u, figures.voicePacketsReceived) << "nothing reached the RTP layer";

    const HWND window = static_cast<CTavolinEngineImpl*>(engine_)->Window();
    CTavolinEngineImpl::WindowProc(window, WM_TIMER, kTimerGreet, 0);
    CTavolinEngineImpl::WindowProc(window, WM_TIMER, kTimerGreet, 0);
    EXPECT_EQ(std::vector<int>{kPeerId}, unauthenticated);
    engine_->Destroy();
}

}  // namespace

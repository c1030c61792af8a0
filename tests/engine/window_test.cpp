// The message window's procedure: private messages and timers.
#include "engine/log_texts.h"
#include "platform/winsock.h"
#include "tests/engine/engine_fixture.h"
#include "transport/address/address_server.h"

#include <arpa/inet.h>

#include <chrono>

namespace {
using namespace testing_support;

class WindowProc : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_EQ(1, CreateEngine());
        server.ReceiveAll(200, 2);  // the first requests
        host.log.Clear();
    }
};

TEST_F(WindowProc, PublicAddressReachesTheLocalUserAndTheHost) {
    const uint16_t localAudio = engine->GetLocalAudioPort(), localVideo = engine->GetLocalVideoPort();
    Send(MSG_AUDIO_PUBLIC_ADDRESS, reinterpret_cast<WPARAM>(new PublicAddressRecord{0xC6120001, 40000}), EngineParam());
    EXPECT_EQ(0xC6120001u, engine->GetLocalAddress());
    EXPECT_EQ(40000, engine->GetLocalAudioPort());
    Send(MSG_VIDEO_PUBLIC_ADDRESS, reinterpret_cast<WPARAM>(new PublicAddressRecord{0xC6120001, 40002}), EngineParam());
    EXPECT_EQ(40002, engine->GetLocalVideoPort());
    ASSERT_EQ(2u, host.addresses.size());
    EXPECT_TRUE(host.addresses[0].audio);
    EXPECT_EQ(0xC6120001u, host.addresses[0].publicAddress);
    EXPECT_EQ(40000, host.addresses[0].publicPort);
    EXPECT_EQ(localAudio, host.addresses[0].localPort);
    EXPECT_FALSE(host.addresses[1].audio);
    EXPECT_EQ(localVideo, host.addresses[1].localPort);

    // The machine's own address, looked up once and logged once.
    in_addr own{};
    ASSERT_TRUE(GetOwnHostAddress(&own));
    EXPECT_EQ(ntohl(own.s_addr), host.addresses[0].localAddress);
    EXPECT_EQ(ntohl(own.s_addr), host.addresses[1].localAddress);
    EXPECT_EQ(1u, host.log.Count(std::string("Local IP:") + inet_ntoa(own)));
}

TEST_F(WindowProc, MessagesWithoutParametersDoNothing) {
    // Records are freed in every case (LeakSanitizer watches the one below).
    Send(MSG_AUDIO_PUBLIC_ADDRESS, reinterpret_cast<WPARAM>(new PublicAddressRecord{1, 2}), 0);
    Send(MSG_VIDEO_PUBLIC_ADDRESS, 0, EngineParam());
    EXPECT_TRUE(host.addresses.empty());
    EXPECT_EQ(0xFFFFFFFFu, engine->GetLocalAddress());
    EXPECT_EQ(1, Send(MSG_AUDIO_RECEIVED, 0, 0));
    EXPECT_EQ(1, Send(MSG_VIDEO_RECEIVED, 0, 0));
    EXPECT_EQ(1, Send(MSG_FRAME_CAPTURED, 0, 0));
    EXPECT_EQ(1, Send(MSG_RESERVED, 0, 0));
    EXPECT_EQ(1, Send(WM_TIMER, 1, 0));
}

TEST_F(WindowProc, EmptyFrameRingDrawsNothing) {
    TestView view;
    engine->SetUserView(kLocalId, &view);
    EXPECT_EQ(1, Send(MSG_FRAME_CAPTURED, 0, EngineParam()));
    EXPECT_EQ(0, view.frames);
}

TEST_F(WindowProc, PublicAddressTimerAsksAgainThroughBothSessions) {
    EXPECT_EQ(1, CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, 2, 0));
    EXPECT_EQ(2u, server.ReceiveAll(300, 4).size());
    EXPECT_EQ((std::vector<std::string>{engine_log::kHearPlayersWithoutPublicIp, engine_log::kRequestPublicIp}),
              host.log.Texts());
    host.log.Clear();
    EXPECT_EQ(1, CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, 2, 0));
    EXPECT_EQ(std::vector<std::string>{engine_log::kRequestPublicIp}, host.log.Texts()) << "said once";
}

TEST_F(WindowProc, TransTimerSendsToThePublicAddressServerOnly) {
    EXPECT_EQ(1, CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, 4, 0));
    const auto sent = server.ReceiveAll(300, 4);
    ASSERT_EQ(2u, sent.size());
    for (const Datagram& datagram : sent) {
        const auto rtp = ParseRtp(datagram.bytes);
        ASSERT_TRUE(rtp);
        EXPECT_EQ(10, rtp->payloadType);
        EXPECT_FALSE(rtp->marker);
        EXPECT_EQ(std::string("TRANS"), std::string(rtp->payload.begin(), rtp->payload.end()));
    }
}

TEST_F(WindowProc, GreetingTimerSaysHelloToPeersThatHaveNotAnswered) {
    UdpPeer peer;
    ASSERT_EQ(1, engine->AddUser(7, kLoopback, kLoopback));
    ASSERT_EQ(1, engine->SetUserAudioPort(7, peer.Port(), peer.Port()));
    peer.ReceiveAll(200);  // the hello that setting the port sends at once
    EXPECT_EQ(1, CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, 3, 0));
    const auto hello = peer.Receive(300);
    ASSERT_TRUE(hello);
    const auto rtp = ParseRtp(hello->bytes);
    ASSERT_TRUE(rtp);
    EXPECT_EQ(1, rtp->payloadType);
    EXPECT_EQ(std::string("HI"), std::string(rtp->payload.begin(), rtp->payload.end()));
}

TEST_F(WindowProc, UnknownTimersAndMessagesFallThrough) {
    EXPECT_EQ(1, CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, 9, 0));
    EXPECT_EQ(0, CTavolinEngineImpl::WindowProc(impl->Window(), 7000, 0, 0));
    EXPECT_TRUE(server.ReceiveAll(100).empty());
}
}  // namespace

namespace {
using namespace testing_support;

// With a real address server both sessions learn their public address; the
// next tick of the request timer then ends the timer without asking again.
TEST(WindowProcWithServer, RequestTimerEndsOnceBothAddressesAreKnown) {
    CAddressServerThread server;
    ASSERT_TRUE(server.Start(kLoopback, 0));
    ITavolinEngine* engine = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)));
    auto* impl = static_cast<CTavolinEngineImpl*>(engine);
    TestEventSink host;
    engine->SetEventSink(&host);
    ASSERT_EQ(1, engine->Create(TestInstance(), kLoopback, server.Port(), 1, 0, 1));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (host.addresses.size() < 2 && std::chrono::steady_clock::now() < deadline) TavolinPumpMessages(50);
    ASSERT_EQ(2u, host.addresses.size());
    EXPECT_EQ(kLoopback, engine->GetLocalAddress());
    for (const AddressReport& report : host.addresses) EXPECT_EQ(kLoopback, report.publicAddress);

    const uint64_t requests = server.Counters().requests;
    EXPECT_EQ(1, CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, 2, 0));
    EXPECT_FALSE(KillTimer(impl->Window(), 2));  // already ended by the tick
    EXPECT_TRUE(KillTimer(impl->Window(), 3));
    TavolinPumpMessages(50);
    EXPECT_EQ(requests, server.Counters().requests);
    engine->Release();
}
}  // namespace

#include "transport_test_support.h"

#include <tavolin/tavolin.h>

#include "transport/rtp/rtp_packet.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace transport_testing {
namespace {
std::atomic<int> g_windowCount{0};
std::atomic<DWORD> g_ticks{1};

DWORD ManualTickSource() { return g_ticks.load(); }

HINSTANCE TestInstance() {
    static int anchor;
    return reinterpret_cast<HINSTANCE>(&anchor);
}
}  // namespace

TestWindow::TestWindow() {
    className_ = "TransportTestWindow" + std::to_string(g_windowCount.fetch_add(1));
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &TestWindow::WindowProc;
    wc.hInstance = TestInstance();
    wc.lpszClassName = className_.c_str();
    RegisterClassExA(&wc);
    window_ = CreateWindowExA(0, className_.c_str(), "TestWnd", 0, 0, 0, 0, 0, nullptr, nullptr, TestInstance(),
                              nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TestWindow::~TestWindow() {
    DestroyWindow(window_);
    UnregisterClassA(className_.c_str(), TestInstance());
}

LRESULT TestWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
        case MSG_AUDIO_RECEIVED:
            ++self->audioReceivedMessages;
            if (self->dispatchReceived && lParam) reinterpret_cast<CTavolinTransmission*>(lParam)->OnAudioReceived();
            return 1;
        case MSG_VIDEO_RECEIVED:
            ++self->videoReceivedMessages;
            if (self->dispatchReceived && lParam) reinterpret_cast<CTavolinTransmission*>(lParam)->OnVideoReceived();
            return 1;
        case MSG_AUDIO_PUBLIC_ADDRESS:
        case MSG_VIDEO_PUBLIC_ADDRESS: {
            auto* record = reinterpret_cast<PublicAddressRecord*>(wParam);
            (message == MSG_AUDIO_PUBLIC_ADDRESS ? self->audioAddresses : self->videoAddresses).push_back(*record);
            self->addressContexts.push_back(lParam);
            delete record;
            return 0;
        }
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool TestWindow::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        TavolinPumpMessages(static_cast<uint32_t>(std::min<long long>(left, 20)));
    }
    return true;
}

void TestWindow::PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
}

void RecordingPacketSink::OnVideoPacket(int userId, rtp::RTPPacket* packet) {
    userIds.push_back(userId);
    videoPayloads.emplace_back(packet->GetPayloadData(), packet->GetPayloadData() + packet->GetPayloadLength());
    heldVideo.push_back(packet);
}

void RecordingPacketSink::OnAudioPacket(int userId, const uint8_t* payload, size_t length) {
    userIds.push_back(userId);
    audioPayloads.emplace_back(payload, payload + length);
}

void RecordingPacketSink::ReleaseVideo() {
    for (rtp::RTPPacket* packet : heldVideo) releaser->DeleteVideoPacket(packet);
    heldVideo.clear();
}

std::vector<uint8_t> RtpDatagram(uint8_t payloadType, uint16_t sequence, uint32_t timestamp, uint32_t ssrc,
                                 const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> bytes(12 + payload.size());
    bytes[0] = 0x80;
    bytes[1] = payloadType;
    bytes[2] = static_cast<uint8_t>(sequence >> 8);
    bytes[3] = static_cast<uint8_t>(sequence);
    for (int i = 0; i < 4; ++i) {
        bytes[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
        bytes[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
    }
    std::copy(payload.begin(), payload.end(), bytes.begin() + 12);
    return bytes;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

ManualTicks::ManualTicks(DWORD start) {
    g_ticks = start;
    SetTickSourceForTesting(&ManualTickSource);
}

ManualTicks::~ManualTicks() { SetTickSourceForTesting(nullptr); }

void ManualTicks::Set(DWORD now) { g_ticks = now; }

void ManualTicks::Advance(DWORD ms) { g_ticks += ms; }

void TransmissionTest::SetUp() {
    transmission.SetLogSink(&log);
    transmission.SetEventContext(&eventContext);
    ASSERT_EQ(transmission.Create(window.Handle()), 1);
}

void TransmissionTest::LearnPublicAddresses() {
    ASSERT_TRUE(server.Start(testing_support::kLoopback, 0));
    transmission.RequestPublicAddress(testing_support::kLoopback, server.Port(), &kRequestValue, sizeof kRequestValue);
    ASSERT_TRUE(window.PumpUntil([&] { return transmission.HasPublicAddresses(); }, 3000));
    ASSERT_TRUE(window.PumpUntil([&] { return !window.audioAddresses.empty() && !window.videoAddresses.empty(); }, 3000));
}

std::optional<testing_support::RtpView> TransmissionTest::NextRtp(testing_support::UdpPeer& peer, int timeoutMs) {
    auto datagram = peer.Receive(timeoutMs);
    if (!datagram) return std::nullopt;
    return testing_support::ParseRtp(datagram->bytes);
}

void TransmissionTest::AddLoopbackPeer(int userId, testing_support::UdpPeer& publicSide,
                                       testing_support::UdpPeer& localSide, RecordingPacketSink* sink, bool video) {
    ASSERT_EQ(transmission.AddUser(userId, testing_support::kLoopback, testing_support::kLoopback, sink), 1);
    const int set = video ? transmission.SetUserVideoPort(userId, publicSide.Port(), localSide.Port())
                          : transmission.SetUserAudioPort(userId, publicSide.Port(), localSide.Port());
    ASSERT_EQ(set, 1);
}

}  // namespace transport_testing

#include "tests/voice/voice_players.h"

#include <gtest/gtest.h>

namespace voice_test {

using namespace std::chrono_literals;

size_t Ear::Samples() {
    std::lock_guard guard(lock);
    return recording.samples.size();
}

void OnHeard(void* context, const int16_t* samples, int count, int64_t micros) {
    auto* ear = static_cast<Ear*>(context);
    std::lock_guard lock(ear->lock);
    voice::AppendToRecording(ear->recording, samples, count, micros);
}

namespace {
HINSTANCE Instance() {
    static int module;
    return reinterpret_cast<HINSTANCE>(&module);
}
}  // namespace

Player::Player(int id, uint16_t serverPort) : id_(id) {
    EXPECT_EQ(S_OK, DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)));
    engine->SetEventSink(&host);
    EXPECT_EQ(1, engine->Create(Instance(), kLoopback, serverPort, id, 0, /*receiveOnly=*/0));
    TavolinSetVoiceLogSink(engine, &voiceLog);
}

Player::~Player() {
    engine->Destroy();
    engine->Release();
}

void Player::Meet(Player& other) {
    engine->AddUser(other.id_, kLoopback, kLoopback);
    engine->SetUserAudioPort(other.id_, other.engine->GetLocalAudioPort(), other.engine->GetLocalAudioPort());
    engine->SetUserVideoPort(other.id_, other.engine->GetLocalVideoPort(), other.engine->GetLocalVideoPort());
    engine->SetUserView(other.id_, &view);
    ITavolinUser* user = nullptr;
    engine->GetUser(other.id_, &user);
    user->EnableAudio(1);
}

void Player::Talk() {
    ITavolinUser* local = nullptr;
    ASSERT_EQ(1, engine->GetUser(id_, &local));
    local->EnableAudio(1);
}

TavolinVoiceStats Player::StatsOf(int userId) {
    TavolinVoiceStats stats{};
    TavolinGetVoiceStats(engine, userId, &stats);
    return stats;
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        TavolinPumpMessages(10);
    }
    return true;
}

void PumpFor(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
}

bool KnowTheirAddresses(Player& a, Player& b) {
    return PumpUntil([&] { return a.host.addresses.size() >= 2 && b.host.addresses.size() >= 2; }, 5s);
}

}  // namespace voice_test

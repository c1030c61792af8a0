// Voice frames between the voice component and the wire: a 50-byte frame
// travels behind a one-byte tag, and only tagged payloads are played.
#include "engine/engine.h"

#include <cstring>

namespace {
constexpr int kVoiceFrameBytes = 50;
}

void CTavolinEngineImpl::OnEncodedAudio(const uint8_t* data, int length) {
    if (length != kVoiceFrameBytes) return;
    uint8_t payload[1 + kVoiceFrameBytes];
    payload[0] = static_cast<uint8_t>(m_nVoicePayloadTag);
    std::memcpy(payload + 1, data, kVoiceFrameBytes);
    m_Transmission.SendAudio(payload, sizeof payload);
}

void CTavolinEngineImpl::OnReceivedVoice(int userId, const uint8_t* payload, size_t length) {
    // An empty payload has no tag to check.
    if (length < 1 || payload[0] != m_nVoicePayloadTag) return;
    if (m_AudioEngine) m_AudioEngine->PlayAudio(userId, payload + 1, static_cast<int>(length - 1));
}

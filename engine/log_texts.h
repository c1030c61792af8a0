// The engine core's log texts, byte for byte. Texts with Chinese words are
// GBK (code page 936) bytes; tests compare each with its UTF-8 wording.
#pragma once

namespace engine_log {
// Lifecycle.
inline constexpr char kCreateStart[] = "Zephra\xA3\xBA\xBF\xAA\xCA\xBC\xB4\xB4\xBD\xA8\xD2\xFD\xC7\xE6(%d)\xA1\xA3";
inline constexpr char kRtpCreateFailed[] = "Zephra\xA3\xBARTP\xD2\xFD\xC7\xE6\xB4\xB4\xBD\xA8\xCA\xA7\xB0\xDC\xA1\xA3";
inline constexpr char kWindowFailed[] =
    "Zephra\xA3\xBA\xCE\xDE\xB7\xA8\xB4\xB4\xBD\xA8\xCA\xD3\xC6\xB5\xCF\xFB\xCF\xA2\xB4\xB0\xBF\xDA\xA1\xA3";
inline constexpr char kCreateException[] = "Create Zephra exeption";
inline constexpr char kDestroyAudioEngine[] = "m_AudioEngine.Destroy()";
inline constexpr char kDestroyTransmission[] = "m_Transmission.Destroy();";
inline constexpr char kDestroyStopCapture[] = " m_CapZephra.StopCapture();";
inline constexpr char kDestroyAudioCodec[] = " m_AudioCodecEngine.Destroy();";
inline constexpr char kDestroyVideoCodec[] = "m_VideoCodecEngine.Destroy();";
inline constexpr char kDestroyVideoEnc[] = "m_VideoEnc.Close();";
inline constexpr char kDestroyed[] = "Zephra\xA3\xBA\xD2\xFD\xC7\xE6\xD2\xD1\xBE\xAD\xCF\xFA\xBB\xD9\xA3\xBA%d\xA1\xA3";
inline constexpr char kDestroyException[] = "Zephra\xA3\xBA\xCF\xFA\xBB\xD9Zephra\xD2\xEC\xB3\xA3\xA3\xBA%d\xA1\xA3";

// User table.
inline constexpr char kTransmissionAddUserFailed[] = "m_Transmission.AddUser failed: %d";
inline constexpr char kAddUserException[] = "Zephra Adduser exeption";
inline constexpr char kAudioPortUnknownUser[] = "CTavolinEngineImpl::SetUserAudioPort error,can not find user: %d";
inline constexpr char kVideoPortUnknownUser[] = "CTavolinEngineImpl::SetUserVideoPort error,can not find user: %d";
inline constexpr char kAudioPortTaken[] =
    "CTavolinEngineImpl::SetUserAudioPort error,\xC4\xBF\xB1\xEA\xCD\xE6\xBC\xD2\xD2\xD1\xBE\xAD\xB6\xCB\xBF\xDA: %d";
inline constexpr char kVideoPortTaken[] =
    "CTavolinEngineImpl::SetUserVideoPort error,\xC4\xBF\xB1\xEA\xCD\xE6\xBC\xD2\xD2\xD1\xBE\xAD\xD3\xD0\xB6\xCB\xBF\xDA: %d";
inline constexpr char kTransmissionAudioPortFailed[] = "m_Transmission.SetUserAudioPort failed: %d";
inline constexpr char kTransmissionVideoPortFailed[] = "m_Transmission.SetUserVideoPort failed: %d";
inline constexpr char kRemoveClear[] = "m_UserArray[i].Clear";
inline constexpr char kRemoveTransmission[] = "m_Transmission.RemoveUser";
inline constexpr char kRemoveAudioEngine[] = "m_AudioEngine.RemoveUser";
inline constexpr char kRemoveUserException[] = "Zephra, remove user error!";

// Message window.
inline constexpr char kRequestPublicIp[] = "Zephra:  Request Public ip";
// Once, when the server has not answered the first request in 4 s.
inline constexpr char kHearPlayersWithoutPublicIp[] = "Zephra:  No public ip yet, hearing players without it";
inline constexpr char kLocalIp[] = "Local IP:%s";

// Relayed media: the server (dotted address:port) and what failed.
inline constexpr char kRelayFailedOver[] = "relay server %s failed (%s), allocating on the next one";
inline constexpr char kRelayFailed[] = "relay server %s failed (%s), no server left";
}  // namespace engine_log

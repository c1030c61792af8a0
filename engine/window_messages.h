// The engine's message window: its private messages, handed to the modules
// that post them, and its four timers.
#pragma once

#include "platform/win32.h"

// Private messages of the engine's message window.
constexpr UINT MSG_AUDIO_RECEIVED = 6440;
constexpr UINT MSG_VIDEO_RECEIVED = 6441;
constexpr UINT MSG_AUDIO_PUBLIC_ADDRESS = 6442;
constexpr UINT MSG_VIDEO_PUBLIC_ADDRESS = 6443;
constexpr UINT MSG_RESERVED = 8526;
constexpr UINT MSG_FRAME_CAPTURED = 9161;

enum TimerId : UINT_PTR {
    kTimerAudioLevel = 1,
    kTimerPublicAddress = 2,
    kTimerGreet = 3,
    kTimerTrans = 4,
};

struct TimerSpec {
    TimerId id;
    UINT periodMs;
};

// Started in this order by Create.
constexpr TimerSpec kTimers[] = {
    {kTimerPublicAddress, 4000},  // public-address request until both sessions know their address
    {kTimerAudioLevel, 100},      // voice level poll
    {kTimerGreet, 1000},          // greeting of peers
    {kTimerTrans, 30000},         // "TRANS" to keep address mappings alive
};

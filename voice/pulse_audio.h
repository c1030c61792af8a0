// Sound devices on a PulseAudio server (PipeWire's Pulse server speaks the
// same protocol) through the server's own client library: streams with
// 10 ms capture fragments and a playback buffer of a few tens of ms, which
// GStreamer's pulsesrc/pulsesink between appsink and appsrc did not reach
// (measured there: 75-90 ms from microphone to speaker, against 10-15 ms
// for the server's own clients). One connection per process, on a thread
// of its own; it watches the server's devices and reconnects when the
// server comes back.
#pragma once

#include "voice/audio_device.h"

#include <memory>
#include <string>
#include <vector>

namespace voice {

// Whether a sound server answers now (the first call connects, waiting at
// most a fraction of a second).
bool HavePulseServer();
// Whether sound devices are the sound server's: one answers now, or did
// before (its devices are then missing until it is back).
bool UsePulseServer();
// Display names (descriptions) of the server's sources or sinks, and the
// one that is the server's default (empty when unknown).
std::vector<std::string> PulseDeviceNames(DeviceKind kind);
std::string PulseDefaultDevice(DeviceKind kind);

// A stream on the device of that display name, or on the server's default
// (which the server follows) for an empty name. Null without a server or
// without such a device. Start returns at once; a stream the server refuses
// shows up as Failed.
std::unique_ptr<Microphone> OpenPulseMicrophone(const std::string& name);
std::unique_ptr<Speaker> OpenPulseSpeaker(const std::string& name);

}  // namespace voice

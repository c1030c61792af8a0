// Sound devices through GStreamer: the source or sink element of a device
// (or the automatic default), converted to and from 16 kHz mono, with
// echo cancellation, noise suppression and gain control where the
// webrtcdsp/webrtcechoprobe elements are installed.
#pragma once

#include "voice/audio_device.h"

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

namespace voice {

bool EnsureGstreamer();
// Whether webrtcdsp and webrtcechoprobe are installed.
bool HaveVoiceProcessing();

// Take ownership of a floating device element (tests pass test sources and
// sinks). A microphone with a non-empty `echoProbe` cancels the echo of the
// speaker whose probe has that name; a speaker with one inserts that probe.
std::unique_ptr<Microphone> MakeGstMicrophone(GstElement* source, const std::string& echoProbe);
std::unique_ptr<Speaker> MakeGstSpeaker(GstElement* sink, const std::string& echoProbe);

// Display names of the sound devices of a class ("Audio/Source", "Audio/Sink").
std::vector<std::string> GstDeviceNames(const char* deviceClass);
// A floating element for the device of that display name; for an empty name
// the automatic default. Null when there is no such device.
GstElement* CreateGstDeviceElement(const char* deviceClass, const std::string& name);

}  // namespace voice

// Sound devices through GStreamer, where no sound server answers: the
// source or sink element of a device (or the automatic default), converted
// to and from 16 kHz mono.
#pragma once

#include "voice/audio_device.h"

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

namespace voice {

bool EnsureGstreamer();

// Take ownership of a floating device element (tests pass test sources and sinks).
std::unique_ptr<Microphone> MakeGstMicrophone(GstElement* source);
std::unique_ptr<Speaker> MakeGstSpeaker(GstElement* sink);

// Display names of the sound devices of a class ("Audio/Source", "Audio/Sink").
std::vector<std::string> GstDeviceNames(const char* deviceClass);
// A floating element for the device of that display name; for an empty name
// the automatic default. Null when there is no such device.
GstElement* CreateGstDeviceElement(const char* deviceClass, const std::string& name);

}  // namespace voice

// Cameras made of GStreamer's test picture source, for machines without a
// camera. Hosts add them through TavolinAddSyntheticCamera.
#pragma once

#include <gst/gst.h>

#include <string>
#include <vector>

namespace media {

struct SyntheticCamera {
    std::string name;
    int pattern;
    int width;
    int height;
    int fps;
    int flags;
};

// The cameras added so far, in the order they were added.
std::vector<SyntheticCamera> SyntheticCameras();

// A floating source element with one "src" pad that delivers the camera's
// moving picture as live I420 at its size and rate; null on failure.
GstElement* CreateSyntheticSource(const SyntheticCamera& camera);

}  // namespace media

// What the GStreamer graph needs from a filter: the element it puts into
// its pipeline.
#pragma once

#include <gst/gst.h>

namespace media {

class GstFilterElement {
public:
    virtual GstElement* Element() const = 0;

protected:
    ~GstFilterElement() = default;
};

}  // namespace media

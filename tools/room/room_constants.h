// Every size and period of the room demo's own output, with its unit, in one
// place.
#pragma once

#include <cstdint>

namespace room {

// Status lines while the room runs.
constexpr double kStatusPeriodSeconds = 1.0;

// The mosaic: tiles of one picture each, separated by a grey gap.
constexpr int kMosaicGapPixels = 4;
constexpr int kMosaicLabelPixels = 20;  // the band of player numbers left of and above the tiles
constexpr uint8_t kMosaicGapGrey = 96;

}  // namespace room

// Reading the frame number that a stamping camera draws into the top eighth
// of every picture, and comparing a shown picture with its source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace room {

// The stamp: the picture's top eighth holds the frame number's low 16 bits as
// 16 equal-width blocks, most significant bit at the left, white for 1.
constexpr int kStampBits = 16;
constexpr int kStampBandRows = 120 / 8;
constexpr int kStampBlockWidth = 160 / kStampBits;
// A block is read from its centre only: coding blurs the edges between blocks.
constexpr int kStampMarginRows = 3;
constexpr int kStampMarginColumns = 2;
// Mean brightness (0..255) a block's centre must stay below to read as 0 or
// above to read as 1; anything between means the picture carries no stamp.
constexpr int kStampDarkAtMost = 96;
constexpr int kStampBrightAtLeast = 160;

// The number stamped into a 160 x 120 BGR picture stored bottom row first, or
// nothing when some block is neither clearly dark nor clearly bright.
std::optional<uint16_t> ReadFrameStamp(const uint8_t* picture);

// Peak signal-to-noise ratio of two equally long 8-bit pictures in dB;
// identical pictures give kPsnrOfIdenticalPicturesDb.
double PeakSignalToNoiseDb(const uint8_t* shown, const uint8_t* source, size_t length);

}  // namespace room

#include "tools/room/mosaic.h"

#include "testbed/measurement/picture_constants.h"
#include "testbed/room.h"
#include "testbed/testbed_constants.h"
#include "tools/room/room_constants.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace room {
namespace {
constexpr int kRgbBytesPerPixel = 3;
constexpr int kPngBitDepth = 8;

int Extent(int tiles, int tileSize) { return tiles * tileSize + (tiles + 1) * kMosaicGapPixels; }

// Digits 0-9 of 3 x 5 cells, one row of 3 bits per entry, drawn kDigitScale times larger.
constexpr uint8_t kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                                    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                                    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
constexpr int kDigitScale = 2;
constexpr int kDigitAdvance = 4 * kDigitScale;
constexpr uint8_t kLabelWhite[kRgbBytesPerPixel] = {255, 255, 255};
constexpr uint8_t kFailedRed[kRgbBytesPerPixel] = {230, 30, 30};
constexpr int kCrossThickness = 3;
}  // namespace

Mosaic::Mosaic(int rows, int columns)
    : width_(kMosaicLabelPixels + Extent(columns, kPictureWidth)),
      height_(kMosaicLabelPixels + Extent(rows, kPictureHeight)),
      rgb_(static_cast<size_t>(width_) * height_ * kRgbBytesPerPixel, kMosaicGapGrey) {}

int Mosaic::TileLeft(int column) const {
    return kMosaicLabelPixels + kMosaicGapPixels + column * (kPictureWidth + kMosaicGapPixels);
}

int Mosaic::TileTop(int row) const {
    return kMosaicLabelPixels + kMosaicGapPixels + row * (kPictureHeight + kMosaicGapPixels);
}

void Mosaic::Fill(int left, int top, int width, int height, const uint8_t* rgb) {
    for (int y = std::max(0, top); y < std::min(height_, top + height); ++y)
        for (int x = std::max(0, left); x < std::min(width_, left + width); ++x)
            std::copy(rgb, rgb + kRgbBytesPerPixel,
                      rgb_.begin() + (static_cast<size_t>(y) * width_ + x) * kRgbBytesPerPixel);
}

void Mosaic::DrawNumber(int left, int top, int number) {
    const std::string digits = std::to_string(number);
    for (size_t i = 0; i < digits.size(); ++i)
        for (int cellRow = 0; cellRow < 5; ++cellRow)
            for (int cell = 0; cell < 3; ++cell)
                if (kDigits[digits[i] - '0'][cellRow] & (4 >> cell))
                    Fill(left + static_cast<int>(i) * kDigitAdvance + cell * kDigitScale, top + cellRow * kDigitScale,
                         kDigitScale, kDigitScale, kLabelWhite);
}

void Mosaic::LabelRow(int row, int player) {
    DrawNumber(kMosaicGapPixels, TileTop(row) + kPictureHeight / 2 - kDigitScale * 5 / 2, player);
}

void Mosaic::LabelColumn(int column, int player) {
    DrawNumber(TileLeft(column) + kPictureWidth / 2 - kDigitAdvance / 2, kMosaicGapPixels, player);
}

void Mosaic::MarkFailed(int row, int column) {
    for (int x = 0; x < kPictureWidth; ++x) {
        const int y = x * kPictureHeight / kPictureWidth;
        Fill(TileLeft(column) + x, TileTop(row) + y, 1, kCrossThickness, kFailedRed);
        Fill(TileLeft(column) + x, TileTop(row) + kPictureHeight - kCrossThickness - y, 1, kCrossThickness, kFailedRed);
    }
}

void Mosaic::Put(int row, int column, const std::vector<uint8_t>& picture) {
    if (picture.size() < kPictureBytes) return;
    const int left = TileLeft(column);
    const int top = TileTop(row);
    for (int y = 0; y < kPictureHeight; ++y) {
        // The picture's top row is its last row in memory.
        const uint8_t* source = picture.data() + (kPictureHeight - 1 - y) * kPictureRowBytes;
        uint8_t* target = rgb_.data() + ((top + y) * static_cast<size_t>(width_) + left) * kRgbBytesPerPixel;
        for (int x = 0; x < kPictureWidth; ++x) {
            const uint8_t* bgr = source + x * kBytesPerPixel;
            target[x * kRgbBytesPerPixel + 0] = bgr[2];
            target[x * kRgbBytesPerPixel + 1] = bgr[1];
            target[x * kRgbBytesPerPixel + 2] = bgr[0];
        }
    }
}

namespace {
// libpng reports errors by long jump: nothing here has a destructor for the
// jump to skip, and nothing set before the jump is changed after it.
bool WritePngRows(png_structp png, png_infop info, FILE* file, int width, int height, const uint8_t* rgb) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), kPngBitDepth,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, rgb + static_cast<size_t>(y) * width * kRgbBytesPerPixel);
    png_write_end(png, nullptr);
    return true;
}
}  // namespace

bool Mosaic::WritePng(const std::string& path, std::string* error) const {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) {
        *error = "cannot write " + path;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        *error = "libpng could not start";
        return false;
    }
    const bool written = WritePngRows(png, info, file.get(), width_, height_, rgb_.data());
    png_destroy_write_struct(&png, &info);
    if (!written) *error = "libpng failed writing " + path;
    return written;
}

Mosaic BuildMosaic(const Room& room) {
    const std::vector<int> viewers = room.PlayerIds();
    Mosaic mosaic(static_cast<int>(viewers.size()), room.PlayersInRoom());
    for (int sender = kFirstUserId; sender < kFirstUserId + room.PlayersInRoom(); ++sender)
        mosaic.LabelColumn(sender - kFirstUserId, sender);
    int row = 0;
    for (int viewer : viewers) {
        mosaic.LabelRow(row, viewer);
        for (int sender = kFirstUserId; sender < kFirstUserId + room.PlayersInRoom(); ++sender) {
            const int column = sender - kFirstUserId;
            const std::vector<uint8_t>& picture = room.LastPicture(viewer, sender);
            mosaic.Put(row, column, picture);
            if (picture.empty()) mosaic.MarkFailed(row, column);
        }
        ++row;
    }
    return mosaic;
}

}  // namespace room

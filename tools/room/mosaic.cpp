#include "tools/room/mosaic.h"

#include "tools/room/room_constants.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace room {
namespace {
constexpr int kRgbBytesPerPixel = 3;
constexpr int kPngBitDepth = 8;

int Extent(int tiles, int tileSize) { return tiles * tileSize + (tiles + 1) * kMosaicGapPixels; }
}  // namespace

Mosaic::Mosaic(int rows, int columns)
    : width_(Extent(columns, kPictureWidth)),
      height_(Extent(rows, kPictureHeight)),
      rgb_(static_cast<size_t>(width_) * height_ * kRgbBytesPerPixel, kMosaicGapGrey) {}

void Mosaic::Put(int row, int column, const std::vector<uint8_t>& picture) {
    if (picture.size() < kPictureBytes) return;
    const int left = kMosaicGapPixels + column * (kPictureWidth + kMosaicGapPixels);
    const int top = kMosaicGapPixels + row * (kPictureHeight + kMosaicGapPixels);
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

}  // namespace room

#include "testbed/picture_views.h"

namespace room {
namespace {
constexpr uint16_t kBitsPerPixel = 24;

bool DescribesOurPicture(const BITMAPINFOHEADER* header) {
    return header && header->biWidth == kPictureWidth && header->biHeight == kPictureHeight &&
           header->biBitCount == kBitsPerPixel && header->biCompression == BI_RGB;
}
}  // namespace

int PictureView::DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int) {
    if (!bytes || !DescribesOurPicture(header)) {
        malformed_.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    checker_.Submit(*this, bytes, clock_());
    return 1;
}

}  // namespace room

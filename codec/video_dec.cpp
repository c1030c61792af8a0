#include "codec/video_dec.h"

#include "codec/codec_library.h"
#include "trace/hop_trace.h"

#include <xvid.h>

namespace {
// A picture's data ends with stuffing up to the next byte boundary: a 0 bit
// and then 1 bits. When the data already ended on a boundary the stuffing is
// this whole byte, and the library does not count it as consumed.
constexpr uint8_t kWholeStuffingByte = 0x7F;

int ConsumedWithStuffing(const uint8_t* frame, int length, int consumed) {
    if (consumed == length - 1 && frame[consumed] == kWholeStuffingByte) return length;
    return consumed;
}
}  // namespace

CVideoDec::CVideoDec() = default;

CVideoDec::~CVideoDec() { Close(); }

void CVideoDec::Open(int width, int height, ITavolinFrameSink* sink) {
    m_Width = width;
    m_Height = height;
    m_Sink = sink;
    if (width > 0 && height > 0)
        m_Picture = codec::GuardPagedBuffer(static_cast<size_t>(width) * height * codec::kBytesPerPixel);
}

bool CVideoDec::HasSystemPictureSize() const {
    return m_Picture.data() && m_Width == kVideoWidth && m_Height == kVideoHeight;
}

bool CVideoDec::CreateDecoder() {
    if (!m_Sink) return false;
    // The library decodes at whatever size a stream header announces unless
    // it is created with a fixed size; only the system's size fits the picture.
    if (!HasSystemPictureSize()) return false;
    Close();  // a second creation must not leak the first instance
    m_Frozen = true;
    m_Counts = Counts{};

    xvid_dec_create_t create{};
    create.version = codec::kLibraryVersion;
    create.width = kVideoWidth;
    create.height = kVideoHeight;
    xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr);
    m_Handle = create.handle;
    return m_Handle != nullptr;
}

int CVideoDec::DecodeFrame(const uint8_t* frame, int length, void* stats) {
    xvid_dec_frame_t decode{};
    decode.version = codec::kLibraryVersion;
    decode.general = 0;
    decode.bitstream = const_cast<uint8_t*>(frame);
    decode.length = length;
    decode.output.csp = codec::kPictureColourSpace;
    decode.output.plane[0] = m_Picture.data();
    decode.output.stride[0] = kVideoWidth * codec::kBytesPerPixel;
    decode.brightness = 0;
    const double start = codec::ThreadCpuSeconds();
    const int result = xvid_decore(m_Handle, XVID_DEC_DECODE, &decode, stats);
    m_CpuSeconds += codec::ThreadCpuSeconds() - start;
    return result;
}

void CVideoDec::Decode(const uint8_t* frame, int length) {
    TAVOLIN_HOP_TRACE(FrameStep(kTavolinHopAssembled));
    // Reopened at another size since creation, the picture would not fit.
    if (!m_Handle || !HasSystemPictureSize() || !frame || length <= 0) return;
    int consumed = 0;
    xvid_dec_stats_t stats{};
    // Stream headers come back one call each; the picture follows them.
    do {
        stats = {};
        stats.version = codec::kLibraryVersion;
        const int n = DecodeFrame(frame + consumed, length - consumed, &stats);
        if (n <= 0) return;
        consumed += n;
        if (stats.type == XVID_TYPE_VOL &&
            (stats.data.vol.width != kVideoWidth || stats.data.vol.height != kVideoHeight))
            return;
    } while (stats.type == XVID_TYPE_VOL && consumed < length);

    // Shown only when a picture came out and every byte was consumed: the
    // library reports nothing else about a damaged frame.
    consumed = ConsumedWithStuffing(frame, length, consumed);
    if (stats.type <= XVID_TYPE_NOTHING) return;
    if (consumed < length) {
        MarkReferenceLost();  // a damaged picture is no reference either
        return;
    }
    if (m_Frozen && stats.type != XVID_TYPE_IVOP) {
        ++m_Counts.droppedWhileFrozen;
        return;
    }
    if (m_Frozen && m_Counts.shown > 0) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_FrozenSince).count();
        m_Counts.frozenSeconds += seconds;
        if (seconds > m_Counts.longestFreezeSeconds) m_Counts.longestFreezeSeconds = seconds;
    }
    m_Frozen = false;
    ++m_Counts.shown;
    TAVOLIN_HOP_TRACE(FrameStep(kTavolinHopDecoded));
    m_Sink->OnDecodedFrame(m_Picture.data(), consumed);
}

bool CVideoDec::IsKeyFrame(const uint8_t* frame, size_t length) {
    // The picture header's start code; its next two bits give the coding type.
    constexpr uint8_t kPictureStartCode = 0xB6;
    constexpr uint8_t kIntraCoded = 0;
    for (size_t i = 0; i + 4 < length; ++i) {
        if (frame[i] != 0 || frame[i + 1] != 0 || frame[i + 2] != 1 || frame[i + 3] != kPictureStartCode) continue;
        return (frame[i + 4] >> 6) == kIntraCoded;
    }
    return false;
}

void CVideoDec::MarkReferenceLost() {
    if (m_Frozen) return;
    m_Frozen = true;
    m_FrozenSince = std::chrono::steady_clock::now();
    ++m_Counts.freezes;
}

bool CVideoDec::Close() {
    if (!m_Handle) return true;
    const int result = xvid_decore(m_Handle, XVID_DEC_DESTROY, nullptr, nullptr);
    m_Handle = nullptr;
    return result == 0;
}

const uint8_t* CVideoDec::Picture() const { return m_Picture.data(); }

#include "codec/video_enc.h"

#include "codec/codec_library.h"

#include <xvid.h>

namespace {
constexpr int kProfile = XVID_PROFILE_ARTS_L4;
// Stream clock: one tick of 1/10 s per coded frame, whatever the capture rate.
constexpr int kFrameIncrement = 1;
constexpr int kFrameBase = 10;
// Negative: the library's own limit of 10 x fbase / fincr frames applies.
constexpr int kLibraryDefaultKeyInterval = -1;
// Without B-frames these have no effect; kept at the library's usual values.
constexpr int kBQuantRatio = 150;
constexpr int kBQuantOffset = 100;

constexpr int kDefaultQuantiser = 5;
constexpr int kLeastQuantiser = 1;
constexpr int kGreatestQuantiser = 31;
constexpr int kVopFlags = XVID_VOP_HALFPEL | XVID_VOP_INTER4V;
constexpr int kMotionFlags = XVID_ME_ADVANCEDDIAMOND16 | XVID_ME_HALFPELREFINE16 | XVID_ME_ADVANCEDDIAMOND8 |
                             XVID_ME_HALFPELREFINE8 | XVID_ME_CHROMA_PVOP | XVID_ME_CHROMA_BVOP;
// The library is given no output limit; see kBitstreamCapacityBytes.
constexpr int kUnboundedOutput = -1;
}  // namespace

CVideoEnc::CVideoEnc() : m_Quantiser(kDefaultQuantiser) {}

CVideoEnc::~CVideoEnc() { Close(); }

void CVideoEnc::Open(int width, int height, ITavolinVideoSink* sink) {
    m_Width = width;
    m_Height = height;
    m_Sink = sink;
}

bool CVideoEnc::CreateEncoder() {
    if (!m_Sink) return false;
    // A picture whose worst-case frame could overrun the buffer is refused.
    if (m_Width <= 0 || m_Height <= 0 || codec::MaxCodedFrameBytes(m_Width, m_Height) > kBitstreamCapacityBytes)
        return false;
    Close();  // a second creation must not leak the first instance

    xvid_enc_create_t create{};
    create.version = codec::kLibraryVersion;
    create.profile = kProfile;
    create.width = m_Width;
    create.height = m_Height;
    create.fincr = kFrameIncrement;
    create.fbase = kFrameBase;
    create.max_key_interval = kLibraryDefaultKeyInterval;
    create.bquant_ratio = kBQuantRatio;
    create.bquant_offset = kBQuantOffset;
    xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr);
    m_Handle = create.handle;
    // A failed creation leaves the encoder stopped: no null handle reaches the library.
    m_Stopped = m_Handle == nullptr;
    return m_Handle != nullptr;
}

void CVideoEnc::SetQuantiser(int quantiser) {
    m_Quantiser = std::clamp(quantiser, kLeastQuantiser, kGreatestQuantiser);
}

int CVideoEnc::EncodeFrame(const uint8_t* picture, bool forceKeyFrame) {
    xvid_enc_frame_t frame{};
    frame.version = codec::kLibraryVersion;
    frame.vop_flags = kVopFlags;
    frame.motion = kMotionFlags;
    frame.input.csp = codec::kPictureColourSpace;
    frame.input.plane[0] = const_cast<uint8_t*>(picture);
    frame.input.stride[0] = m_Width * codec::kBytesPerPixel;
    frame.type = forceKeyFrame ? XVID_TYPE_IVOP : XVID_TYPE_AUTO;
    frame.quant = m_Quantiser;
    frame.bitstream = m_Bitstream;
    frame.length = kUnboundedOutput;
    const double start = codec::ThreadCpuSeconds();
    const int result = xvid_encore(m_Handle, XVID_ENC_ENCODE, &frame, nullptr);
    m_CpuSeconds += codec::ThreadCpuSeconds() - start;
    m_KeyFrameFlag = frame.out_flags & XVID_KEYFRAME;
    return result;
}

void CVideoEnc::Encode(const uint8_t* picture, bool forceKeyFrame) {
    if (m_Stopped || !m_Handle || !picture) return;
    const int length = EncodeFrame(picture, forceKeyFrame);
    if (length > kBitstreamBytes) {
        // Not handed on; reporting no key frame keeps the engine forcing one.
        m_KeyFrameFlag = 0;
        return;
    }
    if (length > 0) m_Sink->OnEncodedVideo(m_Bitstream, m_KeyFrameFlag, length);
}

bool CVideoEnc::Close() {
    if (!m_Handle) return false;
    m_Stopped = true;
    const int result = xvid_encore(m_Handle, XVID_ENC_DESTROY, nullptr, nullptr);
    m_Handle = nullptr;
    return result == 0;
}

int CVideoEnc::KeyFrameFlag() const { return m_KeyFrameFlag; }

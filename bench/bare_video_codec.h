// The video library called directly, with the settings the engine's encoder
// and decoder use: the baseline the benchmarks hold the engine against.
#pragma once

#include "codec/codec_interfaces.h"
#include "codec/codec_library.h"
#include "codec/video_enc.h"

#include <xvid.h>

#include <cstdint>
#include <vector>

namespace bench {

class BareEncoder {
public:
    BareEncoder() {
        xvid_enc_create_t create{};
        create.version = codec::kLibraryVersion;
        create.profile = XVID_PROFILE_ARTS_L4;
        create.width = kVideoWidth;
        create.height = kVideoHeight;
        create.fincr = 1;
        create.fbase = 10;
        create.max_key_interval = -1;
        create.bquant_ratio = 150;
        create.bquant_offset = 100;
        xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr);
        handle_ = create.handle;
    }
    ~BareEncoder() { xvid_encore(handle_, XVID_ENC_DESTROY, nullptr, nullptr); }
    int Encode(const uint8_t* picture, bool keyFrame) {
        xvid_enc_frame_t frame{};
        frame.version = codec::kLibraryVersion;
        frame.vop_flags = XVID_VOP_HALFPEL | XVID_VOP_INTER4V;
        frame.motion = XVID_ME_ADVANCEDDIAMOND16 | XVID_ME_HALFPELREFINE16 | XVID_ME_ADVANCEDDIAMOND8 |
                       XVID_ME_HALFPELREFINE8 | XVID_ME_CHROMA_PVOP | XVID_ME_CHROMA_BVOP;
        frame.input.csp = XVID_CSP_BGR;
        frame.input.plane[0] = const_cast<uint8_t*>(picture);
        frame.input.stride[0] = kVideoWidth * 3;
        frame.type = keyFrame ? XVID_TYPE_IVOP : XVID_TYPE_AUTO;
        frame.quant = 5;
        frame.bitstream = bitstream_.data();
        frame.length = -1;
        return xvid_encore(handle_, XVID_ENC_ENCODE, &frame, nullptr);
    }
    const uint8_t* Bitstream() const { return bitstream_.data(); }

private:
    void* handle_ = nullptr;
    std::vector<uint8_t> bitstream_ = std::vector<uint8_t>(256 * 1024);
};

class BareDecoder {
public:
    BareDecoder() {
        xvid_dec_create_t create{};
        create.version = codec::kLibraryVersion;
        create.width = kVideoWidth;
        create.height = kVideoHeight;
        xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr);
        handle_ = create.handle;
    }
    ~BareDecoder() { xvid_decore(handle_, XVID_DEC_DESTROY, nullptr, nullptr); }
    int Decode(const uint8_t* bytes, int length) {
        xvid_dec_frame_t frame{};
        frame.version = codec::kLibraryVersion;
        frame.bitstream = const_cast<uint8_t*>(bytes);
        frame.length = length;
        frame.output.csp = XVID_CSP_BGR;
        frame.output.plane[0] = picture_.data();
        frame.output.stride[0] = kVideoWidth * 3;
        return xvid_decore(handle_, XVID_DEC_DECODE, &frame, nullptr);
    }
    const uint8_t* Picture() const { return picture_.data(); }

private:
    void* handle_ = nullptr;
    std::vector<uint8_t> picture_ = std::vector<uint8_t>(kVideoFrameBytes);
};

}  // namespace bench

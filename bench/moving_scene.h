// The codec benchmarks' scene: two groups of pictures of the moving test
// picture under the engine's key-frame policy, made once.
#pragma once

#include "tests/codec/support/synthetic_video.h"

#include <vector>

namespace bench {

constexpr int kSceneFrames = 54;
constexpr int kKeyFrameEvery = 27;

inline const std::vector<codec_test::Picture>& Scene() {
    static const std::vector<codec_test::Picture> scene = [] {
        std::vector<codec_test::Picture> pictures;
        for (int n = 0; n < kSceneFrames; ++n) pictures.push_back(codec_test::MovingPicture(n));
        return pictures;
    }();
    return scene;
}

}  // namespace bench

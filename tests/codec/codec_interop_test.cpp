// Interoperability with another MPEG-4 Part 2 implementation (ffmpeg): it
// must read our stream cleanly, and we must read what its encoder writes.
#include "codec/video_dec.h"
#include "tests/codec/support/engine_policy_encoder.h"
#include "tests/codec/support/recording_sinks.h"
#include "tests/codec/support/synthetic_video.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace codec_test {
namespace {

constexpr int kOurFrames = 60;
constexpr int kTheirFrames = 90;  // 6 s at 15 frames per second
constexpr double kMinimumPsnrDb = 25.0;

struct CommandResult {
    int status = -1;
    std::string output;  // stdout and stderr together
};

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    char chunk[4096];
    size_t read = 0;
    while ((read = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, read);
    result.status = pclose(pipe);
    return result;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One coded frame per element: each starts at the first start code after the
// previous frame's picture start code (00 00 01 B6).
std::vector<std::vector<uint8_t>> SplitIntoFrames(const std::vector<uint8_t>& stream) {
    constexpr uint8_t kPictureStartCode = 0xB6;
    std::vector<std::vector<uint8_t>> frames;
    size_t frameStart = 0;
    bool pictureSeen = false;
    for (size_t i = 0; i + 3 < stream.size(); ++i) {
        if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
        if (pictureSeen) {
            frames.emplace_back(stream.begin() + frameStart, stream.begin() + i);
            frameStart = i;
            pictureSeen = false;
        }
        pictureSeen = stream[i + 3] == kPictureStartCode;
    }
    if (frameStart < stream.size()) frames.emplace_back(stream.begin() + frameStart, stream.end());
    return frames;
}

class CodecInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(TAVOLIN_FFMPEG).empty() || std::string(TAVOLIN_FFPROBE).empty())
            GTEST_SKIP() << "ffmpeg or ffprobe is not installed";
        // Unique per run, so concurrent runs of the suite do not collide.
        std::string pattern = (std::filesystem::temp_directory_path() / "codec_interop_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
    }
    void TearDown() override {
        if (!directory.empty()) std::filesystem::remove_all(directory);
    }
    std::string Path(const char* name) const { return (directory / name).string(); }

    std::filesystem::path directory;
};

TEST_F(CodecInterop, FfmpegReadsOurStreamWithoutErrors) {
    EnginePolicyEncoder encoder;
    {
        std::ofstream out(Path("ours.m4v"), std::ios::binary);
        for (const CodedFrame& frame : encoder.EncodeMoving(0, kOurFrames))
            out.write(reinterpret_cast<const char*>(frame.bytes.data()),
                      static_cast<std::streamsize>(frame.bytes.size()));
    }
    const CommandResult decode =
        RunCommand(std::string(TAVOLIN_FFMPEG) + " -nostdin -v error -f m4v -i " + Path("ours.m4v") + " -f null -");
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.output, "") << "ffmpeg complained";

    const CommandResult count =
        RunCommand(std::string(TAVOLIN_FFPROBE) +
                   " -v error -f m4v -count_frames -show_entries stream=nb_read_frames,width,height"
                   " -of csv=p=0 " +
                   Path("ours.m4v"));
    EXPECT_EQ(count.status, 0);
    EXPECT_EQ(count.output, "160,120," + std::to_string(kOurFrames) + "\n");

    // ffmpeg's pictures are our sources (rows as they were given), so its
    // decoder reads the quality ours reads.
    const CommandResult raw = RunCommand(std::string(TAVOLIN_FFMPEG) + " -nostdin -v error -f m4v -i " +
                                         Path("ours.m4v") + " -pix_fmt bgr24 -f rawvideo " + Path("ours.bgr"));
    ASSERT_EQ(raw.status, 0) << raw.output;
    const std::vector<uint8_t> decoded = ReadFile(Path("ours.bgr"));
    ASSERT_EQ(decoded.size(), static_cast<size_t>(kOurFrames) * kVideoFrameBytes);
    for (int n = 0; n < kOurFrames; ++n)
        EXPECT_GE(Psnr(decoded.data() + size_t(n) * kVideoFrameBytes, MovingPicture(n).data(), kVideoFrameBytes),
                  kMinimumPsnrDb)
            << "frame " << n;
}

TEST_F(CodecInterop, WeReadFfmpegsStream) {
    const std::string source = " -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=15 -t 6 ";
    const CommandResult encode =
        RunCommand(std::string(TAVOLIN_FFMPEG) + source +
                   "-c:v mpeg4 -qscale:v 5 -g 27 -bf 0 -bsf:v dump_extra -f m4v " + Path("other.m4v"));
    ASSERT_EQ(encode.status, 0) << encode.output;
    const CommandResult raw =
        RunCommand(std::string(TAVOLIN_FFMPEG) + source + "-pix_fmt bgr24 -f rawvideo " + Path("source.bgr"));
    ASSERT_EQ(raw.status, 0) << raw.output;

    const std::vector<std::vector<uint8_t>> frames = SplitIntoFrames(ReadFile(Path("other.m4v")));
    const std::vector<uint8_t> sources = ReadFile(Path("source.bgr"));
    ASSERT_EQ(frames.size(), static_cast<size_t>(kTheirFrames));
    ASSERT_EQ(sources.size(), static_cast<size_t>(kTheirFrames) * kVideoFrameBytes);

    RecordingFrameSink pictures;
    CVideoDec decoder;
    decoder.Open(kVideoWidth, kVideoHeight, &pictures);
    InitCodecLibrary();
    ASSERT_TRUE(decoder.CreateDecoder());
    for (std::vector<uint8_t> frame : frames) {
        const int length = static_cast<int>(frame.size());
        frame.resize(frame.size() + CVideoDec::kInputPaddingBytes);
        decoder.Decode(frame.data(), length);
    }

    ASSERT_EQ(pictures.pictures.size(), frames.size());
    for (size_t i = 0; i < pictures.pictures.size(); ++i) {
        // ffmpeg's rows run top-down, and so does its stream: no turn here.
        const uint8_t* expected = sources.data() + i * kVideoFrameBytes;
        EXPECT_GE(Psnr(pictures.pictures[i].data(), expected, kVideoFrameBytes), kMinimumPsnrDb) << "frame " << i;
    }
}

}  // namespace
}  // namespace codec_test

// A coded frame from the encoder to the wire: one timestamp advance, then
// its fragments in index order.
#include "codec/video_fragments.h"
#include "engine/engine.h"
#include "trace/hop_trace.h"

void CTavolinEngineImpl::OnEncodedVideo(const uint8_t* data, int, int length) {
    if (length < 0) return;
    const auto frameBytes = static_cast<size_t>(length);
    const int count = video_fragments::FragmentCount(frameBytes);
    // The encoder never hands on a frame too long to number.
    if (count < 0) return;
    TAVOLIN_HOP_TRACE(FrameCoded());
    m_Transmission.NextVideoFrame();
    ++m_Counts.framesCoded;
    uint8_t fragment[video_fragments::kMaxFragmentBytes];
    for (int i = 0; i < count; ++i) {
        const size_t fragmentBytes = video_fragments::CutFragment(data, frameBytes, count, i, fragment);
        m_Transmission.SendVideo(fragment, fragmentBytes);
    }
    m_Transmission.EndVideoFrame();
    SpendVideoAllowance(frameBytes, count);
    TAVOLIN_HOP_TRACE(FrameSent());
}

// A captured frame on the engine thread: the local preview, then the encoder,
// with a key frame forced when too many frames have passed since the last.
#include "engine/engine.h"

#include <utility>

namespace {
constexpr int kKeyFrameAfter = 25;
// Peers' requests for key frames are answered at most this often.
constexpr uint32_t kAskedKeyFrameSpacingMs = 200;
// While the video is stepped down for the uplink a key frame is a burst the
// budget cannot carry often: the requests wait longer.
constexpr uint32_t kAskedKeyFrameSpacingLimitedMs = 2000;
}  // namespace

// The frame lives in the camera's staging slot. The host may change the
// camera from the event or the preview (freeing the slot), or pump a newer
// frame into it: after each callback the frame goes on only if it is still
// the one taken.
void CTavolinEngineImpl::OnFrameCaptured() {
    uint32_t length = 0;
    const uint8_t* frame = m_CapZephra.GetFrame(&length);
    if (!frame) return;
    const uint32_t taken = ++m_uFrameEpoch;
    ++m_Counts.framesCaptured;
    const uint32_t now = GetTickCount();
    if (m_CameraWatch.Arrived(now) && m_bCameraLost) {
        m_bCameraLost = false;
        m_Events.Emit(TAVOLIN_EVENT_CAMERA_STARTED, m_nLocalUserId, TAVOLIN_MEDIUM_VIDEO, 0, 0,
                      m_CapZephra.GetDeviceName());
        if (taken != m_uFrameEpoch) return;
    }
    if (m_pLocalUser) m_pLocalUser->DrawPreview(frame, static_cast<int>(length));
    if (taken != m_uFrameEpoch) return;
    if (!CodesThisFrame()) return;
    // A request waits while the last asked-for key frame is too recent.
    const uint32_t spacing = m_Ladder.Step() > kLadderTop ? kAskedKeyFrameSpacingLimitedMs : kAskedKeyFrameSpacingMs;
    const bool asked = now - m_uLastAskedKeyFrame >= spacing && m_Transmission.TakeKeyFrameRequest();
    if (asked) m_uLastAskedKeyFrame = now;
    const bool regular = m_nFramesSinceKeyFrame > kKeyFrameAfter || std::exchange(m_bKeyFrameWanted, false);
    m_VideoEnc.Encode(frame, asked || regular);
    if (m_VideoEnc.KeyFrameFlag()) {
        m_nFramesSinceKeyFrame = 0;
        ++(asked ? m_Counts.keyFramesAsked : regular ? m_Counts.keyFramesRegular : m_Counts.keyFramesByCoder);
    } else {
        ++m_nFramesSinceKeyFrame;
    }
}

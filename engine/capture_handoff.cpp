// A captured frame on the engine thread: the local preview, then the encoder,
// with a key frame forced when too many frames have passed since the last.
#include "engine/engine.h"

namespace {
constexpr int kKeyFrameAfter = 25;
}

void CTavolinEngineImpl::OnFrameCaptured() {
    uint32_t length = 0;
    const uint8_t* frame = m_CapZephra.GetFrame(&length);
    if (!frame) return;
    if (m_CameraWatch.Arrived(GetTickCount()) && m_bCameraLost) {
        m_bCameraLost = false;
        m_Events.Emit(TAVOLIN_EVENT_CAMERA_STARTED, m_nLocalUserId, TAVOLIN_MEDIUM_VIDEO, 0, 0,
                      m_CapZephra.GetDeviceName());
    }
    if (m_pLocalUser) m_pLocalUser->DrawPreview(frame, static_cast<int>(length));
    m_VideoEnc.Encode(frame, m_nFramesSinceKeyFrame > kKeyFrameAfter);
    if (m_VideoEnc.KeyFrameFlag())
        m_nFramesSinceKeyFrame = 0;
    else
        ++m_nFramesSinceKeyFrame;
}

// The engine's side of host events: what the transmission and the user
// records report, and the silences the greeting timer looks for.
#include "engine/engine.h"

void CTavolinEngineImpl::OnPeerGreeted(int userId, bool video) {
    m_Events.Emit(TAVOLIN_EVENT_PEER_GREETED, userId, HostMedium(video));
}

void CTavolinEngineImpl::OnPeerSwitchedToLocal(int userId) {
    m_Events.Emit(TAVOLIN_EVENT_PEER_LOCAL_ADDRESS, userId, -1);
}

void CTavolinEngineImpl::OnMediaStarted(int userId, bool video) {
    m_Events.Emit(TAVOLIN_EVENT_MEDIA_STARTED, userId, HostMedium(video));
}

void CTavolinEngineImpl::WatchArrivals() {
    const uint32_t now = GetTickCount();
    for (CTavolinUser& user : m_UserArray) {
        if (user.m_nUserId == CTavolinUser::kFreeUserId) continue;
        for (const bool video : {false, true})
            if (user.MediaStopped(video, now))
                m_Events.Emit(TAVOLIN_EVENT_MEDIA_STOPPED, user.m_nUserId, HostMedium(video));
    }
    if (m_bCapturing && !m_bCameraLost && m_CameraWatch.Stopped(now)) {
        m_bCameraLost = true;
        m_Events.Emit(TAVOLIN_EVENT_CAMERA_LOST, m_nLocalUserId, TAVOLIN_MEDIUM_VIDEO, 0, 0,
                      m_CapZephra.GetDeviceName());
    }
}

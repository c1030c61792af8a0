// The host's encrypted-room interface: the room mode the sessions are created
// with, the keys of each epoch, and the event of a peer whose datagrams keep
// failing to open.
#include "engine/engine.h"

#include <algorithm>

namespace {
// A peer this many datagrams in a row that did not open is out of step.
constexpr uint64_t kFailingDropsInARow = 50;
}  // namespace

int CTavolinEngineImpl::SetRoomMode(int mode) {
    if (m_hWnd || (mode != TAVOLIN_ROOM_PLAIN && mode != TAVOLIN_ROOM_ENCRYPTED)) return 0;
    m_Transmission.SetEncrypted(mode == TAVOLIN_ROOM_ENCRYPTED);
    return 1;
}

int CTavolinEngineImpl::GetRoomMode() {
    return m_Transmission.IsEncrypted() ? TAVOLIN_ROOM_ENCRYPTED : TAVOLIN_ROOM_PLAIN;
}

int CTavolinEngineImpl::SetRoomKeys(const uint8_t* roomId, int roomIdLength, uint32_t epoch, const uint8_t* secret,
                                    int secretLength) {
    if (roomIdLength < 0 || secretLength <= 0 || !secret || (roomIdLength > 0 && !roomId)) return 0;
    RoomKeys keys{std::vector<uint8_t>(secret, secret + secretLength),
                  std::vector<uint8_t>(roomId, roomId + roomIdLength), epoch};
    return m_Transmission.SetRoomKeys(std::move(keys)) ? 1 : 0;
}

void CTavolinEngineImpl::WatchProtection() {
    if (!m_Transmission.IsEncrypted()) return;
    for (const CTavolinUser& user : m_UserArray) {
        const int userId = user.m_nUserId;
        ProtectionFigures figures;
        if (userId == CTavolinUser::kFreeUserId || &user == m_pLocalUser ||
            !m_Transmission.GetProtectionFigures(userId, &figures))
            continue;
        const auto told = std::find(m_FailingPeersTold.begin(), m_FailingPeersTold.end(), userId);
        if (figures.dropsInARow == 0 && told != m_FailingPeersTold.end()) m_FailingPeersTold.erase(told);
        if (figures.dropsInARow < kFailingDropsInARow || told != m_FailingPeersTold.end()) continue;
        m_FailingPeersTold.push_back(userId);
        m_Events.Emit(TAVOLIN_EVENT_PEER_UNAUTHENTICATED, userId, -1);
    }
}

// The frame ring: the streaming thread stores frames, the window thread
// takes the oldest one out.
#include "capture/cap_zephra.h"

#include <cstring>

using namespace media;

HRESULT CCapZephra::BufferCB(double sampleTime, BYTE* buffer, LONG length) {
    if (sampleTime - m_dLastTime < kMinSampleSpacingSeconds) return 0;
    m_dLastTime = sampleTime;
    if (length != m_nExpectedLen && !AdaptToBufferSize(length)) return E_FAIL;
    // Cannot happen for an accepted request (its frame fits a slot), but no
    // copy may ever run past a slot.
    if (!m_bScale && static_cast<size_t>(length) > kFrameSlotBytes) return E_FAIL;

    EnterCriticalSection(&m_csRing);
    StoreFrame(buffer, length);
    LeaveCriticalSection(&m_csRing);
    PostMessageA(m_hWnd, MSG_FRAME_CAPTURED, 0, reinterpret_cast<LPARAM>(m_pEngine));
    return S_OK;
}

// Under m_csRing. When the ring is full the newest frame takes the oldest one's slot.
void CCapZephra::StoreFrame(const BYTE* buffer, LONG length) {
    FrameSlot& slot = m_pRing[m_nWrite];
    if (m_bScale) {
        m_Src.data = const_cast<BYTE*>(buffer);
        m_Dst.data = slot.data;
        ScaleBilinear(m_Dst, m_Src);
        slot.length = static_cast<uint32_t>(m_Dst.height * m_Dst.stride);
    } else {
        std::memcpy(slot.data, buffer, static_cast<size_t>(length));
        slot.length = static_cast<uint32_t>(length);
    }
    if (++m_nCount > kRingSlots) {
        m_nRead = (m_nRead + 1) % kRingSlots;
        m_nCount = kRingSlots;
    }
    m_nWrite = (m_nWrite + 1) % kRingSlots;
}

uint8_t* CCapZephra::GetFrame(uint32_t* length) {
    if (!m_pRing) return nullptr;
    EnterCriticalSection(&m_csRing);
    if (m_nCount < 1) {
        LeaveCriticalSection(&m_csRing);
        return nullptr;
    }
    const FrameSlot& oldest = m_pRing[m_nRead];
    m_pStaging->length = oldest.length;
    std::memcpy(m_pStaging->data, oldest.data, oldest.length);
    if (length) *length = oldest.length;
    m_nRead = (m_nRead + 1) % kRingSlots;
    --m_nCount;
    LeaveCriticalSection(&m_csRing);
    return m_pStaging->data;
}

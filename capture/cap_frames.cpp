// Captured frames into the ring on the streaming thread, and out of it on
// the window thread.
#include "capture/cap_zephra.h"

#include "trace/hop_trace.h"

#include <cstring>

using namespace media;

HRESULT CCapZephra::BufferCB(double sampleTime, BYTE* buffer, LONG length) {
    if (sampleTime - m_dLastTime < kMinSampleSpacingSeconds) return 0;
    m_dLastTime = sampleTime;
    if (length != m_nExpectedLen && !AdaptToBufferSize(length)) return E_FAIL;
    // Cannot happen for an accepted request (its frame fits a slot), but no
    // copy may ever run past a slot.
    if (!m_bScale && static_cast<size_t>(length) > kFrameSlotBytes) return E_FAIL;

    m_Ring.Store([&](uint8_t* slot) {
        TAVOLIN_HOP_TRACE(FrameStored(slot));
        return CopyFrame(buffer, length, slot);
    });
    PostMessageA(m_hWnd, m_uFrameMessage, 0, reinterpret_cast<LPARAM>(m_pFrameContext));
    return S_OK;
}

uint32_t CCapZephra::CopyFrame(const BYTE* buffer, LONG length, uint8_t* slot) {
    if (m_bScale) {
        m_Src.data = const_cast<BYTE*>(buffer);
        m_Dst.data = slot;
        ScaleBilinear(m_Dst, m_Src);
        return static_cast<uint32_t>(m_Dst.height * m_Dst.stride);
    }
    std::memcpy(slot, buffer, static_cast<size_t>(length));
    return static_cast<uint32_t>(length);
}

uint8_t* CCapZephra::GetFrame(uint32_t* length) { return m_Ring.TakeOldest(length); }

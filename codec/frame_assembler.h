// Collects one user's video fragments by RTP timestamp, joins complete frames
// and hands them to the user's decoder. Owns every packet it holds.
#pragma once

#include "engine/internal_interfaces.h"

class CVideoDec;

class CVideoFrameAssembler {
public:
    CVideoFrameAssembler();
    ~CVideoFrameAssembler();
    CVideoFrameAssembler(const CVideoFrameAssembler&) = delete;
    CVideoFrameAssembler& operator=(const CVideoFrameAssembler&) = delete;

    // Complete frames go to this decoder; null drops them.
    void SetDecoder(CVideoDec* decoder);
    void SetReleaser(ITavolinPacketReleaser* releaser);
    void AddPacket(rtp::RTPPacket* packet);
    void ReleaseAll();
};

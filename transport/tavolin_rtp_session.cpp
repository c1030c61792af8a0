#include "transport/tavolin_rtp_session.h"

#include "transport/address_datagram.h"
#include "transport/transmission.h"

#include <vector>

CTavolinRTPSession::~CTavolinRTPSession() { Destroy(); }

void CTavolinRTPSession::RequestPublicAddress(uint32_t address, uint16_t port, const void* data, size_t length) {
    if (hasPublicAddress.load()) return;
    serverAddress = address;
    serverPort = port;
    std::vector<uint8_t> request;
    if (!address_exchange::BuildDatagram(address_exchange::kTypePublicAddress, static_cast<const uint8_t*>(data),
                                         length, &request)) {
        return;
    }
    SendRawData(true, request.data(), request.size(), address, port);
}

// Poll thread, data-access lock held: must not call session operations.
bool CTavolinRTPSession::OnRawPacket(rtp::RTPRawPacket* packet) {
    const rtp::RTPIPv4Address& sender = packet->GetSenderAddress();
    if (!packet->IsRTP()) return senders.AcceptsRtcp(sender.GetIP());
    if (hasPublicAddress.load()) return senders.AcceptsRtp(sender.GetIP(), sender.GetPort());
    if (sender.GetIP() != serverAddress.load() || sender.GetPort() != serverPort.load()) return false;
    address_exchange::PublicAddress answer;
    if (!address_exchange::ParseAddressReply(packet->GetData(), packet->GetDataLength(), &answer)) return false;
    // Known only once the engine has been told; until then the retry timer
    // asks again.
    if (owner && !owner->OnPublicAddress(answer.address, answer.port, kind)) return false;
    publicAddress = answer.address;
    publicPort = answer.port;
    hasPublicAddress = true;
    return false;
}

// Poll thread, data-access lock held. Only a picture loss about our own video
// matters; the sender keeps no history to answer a NACK from.
void CTavolinRTPSession::OnFeedback(rtp::RTCPFeedbackKind feedback, uint32_t, uint32_t mediaSSRC, const uint16_t*,
                                    size_t, double, const rtp::RTPIPv4Address*) {
    if (kind == kVideo && feedback == rtp::RTCPFeedbackKind::kPictureLoss && mediaSSRC == GetLocalSSRC() && owner)
        owner->OnKeyFrameRequested();
}

void CTavolinRTPSession::OnPollThreadStep() {
    if (owner) owner->AnnounceWaitingPackets(kind == kVideo);
    BeginDataAccess();
    for (bool found = GotoFirstSourceWithData(); found; found = GotoNextSourceWithData()) {
        rtp::RTPSourceData* source = GetCurrentSourceInfo();
        while (rtp::RTPPacket* packet = GetNextPacket()) {
            if (!owner)
                DeletePacket(packet);
            else if (kind == kVideo)
                owner->QueueVideoPacket(source, packet);
            else
                owner->QueueAudioPacket(source, packet);
        }
    }
    EndDataAccess();
}

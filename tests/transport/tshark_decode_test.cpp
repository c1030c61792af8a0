// An independent decoder reads every kind of packet our sessions send: the
// datagrams are received on loopback, written to a pcap file and handed to
// tshark with the sessions' ports pinned to RTP and RTCP.
#include "transport/address/address_datagram.h"
#include "transport_test_support.h"

#include <chrono>
#include <cstdlib>
#include <set>
#include <sstream>

namespace {
using namespace transport_testing;
using testing_support::kLoopback;
using testing_support::UdpPeer;

// RTCP sender report, receiver report, source description, goodbye.
const std::set<int> kAllRtcpTypes = {200, 201, 202, 203};

std::set<int> RtcpTypesAt(const UdpPortPair& pair) {
    std::set<int> types;
    for (const auto& datagram : pair.received) {
        if (datagram.toPort != pair.RtcpPort()) continue;
        // Walk the compound packet: type at byte 1, length in words - 1 at bytes 2..3.
        for (size_t offset = 0; offset + 4 <= datagram.bytes.size();) {
            types.insert(datagram.bytes[offset + 1]);
            offset += 4 * (size_t((datagram.bytes[offset + 2] << 8) | datagram.bytes[offset + 3]) + 1);
        }
    }
    return types;
}

class TsharkDecodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ToolExists("tshark")) GTEST_SKIP() << "tshark is not installed";
        char pattern[] = "/tmp/tavolin-tshark-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
    }
    void TearDown() override {
        if (!directory_.empty()) std::system(("rm -rf " + directory_).c_str());
    }

    std::string directory_;
};

TEST_F(TsharkDecodeTest, EveryPacketKindDecodesWithoutErrors) {
    TestWindow window;
    CTavolinTransmission transmission;
    ASSERT_EQ(transmission.Create(window.Handle(), TestMessages(nullptr)), 1);
    const uint16_t voicePort = transmission.GetLocalAudioPort();
    const uint16_t videoPort = transmission.GetLocalVideoPort();

    // A fake address server that answers by hand and then receives TRANS.
    UdpPeer fakeServer;
    const uint32_t one = 1;
    transmission.RequestPublicAddress(kLoopback, fakeServer.Port(), &one, sizeof one);
    for (uint16_t port : {voicePort, videoPort}) {
        ASSERT_TRUE(fakeServer.Receive(1000));
        auto reply = address_exchange::BuildAddressReply({kLoopback, port});
        ASSERT_TRUE(fakeServer.SendTo(kLoopback, port, reply.data(), reply.size()));
    }
    ASSERT_TRUE(window.PumpUntil([&] { return transmission.HasPublicAddresses(); }, 2000));

    UdpPortPair voicePeer, videoPeer;
    ASSERT_NE(voicePeer.RtpPort(), 0);
    ASSERT_NE(videoPeer.RtpPort(), 0);
    RecordingPacketSink sink;
    ASSERT_EQ(transmission.AddUser(1, kLoopback, kLoopback, &sink), 1);
    ASSERT_EQ(transmission.SetUserAudioPort(1, voicePeer.RtpPort(), voicePeer.RtpPort()), 1);  // HI
    ASSERT_EQ(transmission.SetUserVideoPort(1, videoPeer.RtpPort(), videoPeer.RtpPort()), 1);  // HI
    for (uint16_t seq = 1; seq <= 2; ++seq)  // two, so the source passes probation
        ASSERT_TRUE(voicePeer.SendFromRtp(voicePort, RtpDatagram(1, seq, 0, 0xABCD, Bytes("HI"))));
    const uint8_t voiceFrame[51] = {1, 2, 3};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(transmission.SendAudio(voiceFrame, sizeof voiceFrame));
    transmission.SendTrans();

    // The first reports come after half the 5-second minimum interval,
    // randomised; the video session has sent no media yet, so it reports as a receiver.
    ASSERT_TRUE(window.PumpUntil(
        [&] {
            voicePeer.Collect(0);
            videoPeer.Collect(0);
            return RtcpTypesAt(voicePeer).count(200) && RtcpTypesAt(videoPeer).count(201);
        },
        8000));
    const uint8_t fragment[20] = {1, 0, 0x00, 0x00, 0x01, 0xB6};
    ASSERT_EQ(transmission.NextVideoFrame(), 0);
    ASSERT_TRUE(transmission.SendVideo(fragment, sizeof fragment));
    transmission.Destroy();  // BYE "Close"
    voicePeer.Collect(200);
    videoPeer.Collect(200);

    std::vector<UdpPortPair::Received> all = voicePeer.received;
    all.insert(all.end(), videoPeer.received.begin(), videoPeer.received.end());
    while (auto trans = fakeServer.Receive(100)) all.push_back({trans->bytes, trans->fromPort, fakeServer.Port()});
    std::set<int> rtcpTypes = RtcpTypesAt(voicePeer);
    for (int type : RtcpTypesAt(videoPeer)) rtcpTypes.insert(type);
    ASSERT_EQ(rtcpTypes, kAllRtcpTypes) << "the capture holds every report kind";

    const std::string pcap = directory_ + "/sessions.pcap";
    ASSERT_TRUE(WriteLoopbackPcap(pcap, all));
    std::ostringstream options;
    options << " -d udp.port==" << voicePort << ",rtp -d udp.port==" << voicePort + 1 << ",rtcp"
            << " -d udp.port==" << videoPort << ",rtp -d udp.port==" << videoPort + 1 << ",rtcp";
    // One run (tshark is slow to start): decoded fields, malformed marks and
    // the severities of expert notes.
    const std::string fields = RunCommand("tshark -n -r " + pcap + options.str() +
                                          " -T fields -E separator=/t -e rtp.p_type -e rtp.payload -e rtcp.pt"
                                          " -e _ws.malformed -e _ws.expert.severity 2>/dev/null");
    constexpr long kExpertError = 0x00800000;
    std::set<std::string> rtp;
    std::set<int> decodedRtcp;
    std::istringstream lines(fields);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream parts(line);
        std::string type, payload, rtcpList, malformed, severities;
        std::getline(parts, type, '\t');
        std::getline(parts, payload, '\t');
        std::getline(parts, rtcpList, '\t');
        std::getline(parts, malformed, '\t');
        std::getline(parts, severities, '\t');
        EXPECT_EQ(malformed, "") << line;
        std::istringstream severityList(severities);
        for (std::string severity; std::getline(severityList, severity, ',');)
            EXPECT_LT(std::stol(severity), kExpertError) << line;
        if (type == "1" || type == "10")
            rtp.insert(type + ":" + payload);
        else if (!type.empty())
            rtp.insert(type);
        std::istringstream list(rtcpList);
        for (std::string pt; std::getline(list, pt, ',');) decodedRtcp.insert(std::stoi(pt));
    }
    EXPECT_TRUE(rtp.count("102")) << fields;
    EXPECT_TRUE(rtp.count("34")) << fields;
    EXPECT_TRUE(rtp.count("1:4849")) << "HI\n" << fields;
    EXPECT_TRUE(rtp.count("1:52454849")) << "REHI\n" << fields;
    EXPECT_TRUE(rtp.count("10:5452414e53")) << "TRANS\n" << fields;
    EXPECT_EQ(decodedRtcp, kAllRtcpTypes) << fields;
}

}  // namespace

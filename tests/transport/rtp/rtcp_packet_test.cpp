#include "transport/rtp/rtcp_builder.h"
#include "transport/rtp/rtcp_bye.h"
#include "transport/rtp/rtcp_packet.h"
#include "transport/rtp/rtcp_report.h"
#include "transport/rtp/rtcp_sdes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const uint8_t* data, size_t length) { return {data, data + length}; }

// Walks a compound and returns its packets.
std::vector<rtp::RTCPPacket> Packets(rtp::RTCPCompoundPacket& compound) {
    std::vector<rtp::RTCPPacket> packets;
    rtp::RTCPPacket packet;
    compound.GotoFirstPacket();
    while (compound.GetNextPacket(&packet)) packets.push_back(packet);
    return packets;
}

TEST(RTCPCompound, SenderReportSDESAndBYERoundTrip) {
    rtp::RTCPCompoundBuilder builder(1400);
    rtp::RTCPSenderInfo info{0x83AA7E80, 0x80000000, 123456, 42, 4200};
    rtp::RTCPReportBlock blocks[2];
    blocks[0] = {0x11111111, 64, -3, 0x0001FFFF, 77, 0xAABBCCDD, 65536};
    blocks[1] = {0x22222222, 0, 0x7FFFFF, 10, 0, 0, 0};
    ASSERT_TRUE(builder.AddSenderReport(0xCAFE, info, blocks, 2));
    const std::string cname = "me@host";
    ASSERT_TRUE(builder.AddSDESCNAME(0xCAFE, reinterpret_cast<const uint8_t*>(cname.data()), cname.size()));
    ASSERT_TRUE(builder.AddBYE(0xCAFE, reinterpret_cast<const uint8_t*>("Close"), 5));
    EXPECT_EQ(builder.GetLength() % 4, 0u);

    rtp::RTCPCompoundPacket compound;
    ASSERT_TRUE(compound.Parse(builder.GetData(), builder.GetLength()));
    const auto packets = Packets(compound);
    ASSERT_EQ(packets.size(), 3u);

    rtp::RTCPReportReader report;
    ASSERT_TRUE(report.Parse(packets[0]));
    EXPECT_TRUE(report.IsSenderReport());
    EXPECT_EQ(report.GetSenderSSRC(), 0xCAFEu);
    EXPECT_EQ(report.GetSenderInfo().ntpMSW, info.ntpMSW);
    EXPECT_EQ(report.GetSenderInfo().ntpLSW, info.ntpLSW);
    EXPECT_EQ(report.GetSenderInfo().rtpTimestamp, 123456u);
    EXPECT_EQ(report.GetSenderInfo().packetCount, 42u);
    EXPECT_EQ(report.GetSenderInfo().octetCount, 4200u);
    ASSERT_EQ(report.GetReportBlockCount(), 2);
    const rtp::RTCPReportBlock first = report.GetReportBlock(0);
    EXPECT_EQ(first.ssrc, 0x11111111u);
    EXPECT_EQ(first.fractionLost, 64);
    EXPECT_EQ(first.packetsLost, -3);  // the signed 24-bit field survives
    EXPECT_EQ(first.extendedHighestSequence, 0x0001FFFFu);
    EXPECT_EQ(first.jitter, 77u);
    EXPECT_EQ(first.lastSR, 0xAABBCCDDu);
    EXPECT_EQ(first.delaySinceLastSR, 65536u);
    EXPECT_EQ(report.GetReportBlock(1).packetsLost, 0x7FFFFF);

    rtp::RTCPSDESReader sdes;
    ASSERT_TRUE(sdes.Parse(packets[1]));
    uint32_t ssrc = 0;
    ASSERT_TRUE(sdes.NextChunk(&ssrc));
    EXPECT_EQ(ssrc, 0xCAFEu);
    rtp::RTCPSDESReader::Item item;
    ASSERT_TRUE(sdes.NextItem(&item));
    EXPECT_EQ(item.type, rtp::kSDESCNAME);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(item.data), item.length), cname);
    EXPECT_FALSE(sdes.NextItem(&item));
    EXPECT_FALSE(sdes.NextChunk(&ssrc));

    rtp::RTCPBYEReader bye;
    ASSERT_TRUE(bye.Parse(packets[2]));
    ASSERT_EQ(bye.GetSSRCCount(), 1);
    EXPECT_EQ(bye.GetSSRC(0), 0xCAFEu);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bye.GetReason()), bye.GetReasonLength()), "Close");
}

TEST(RTCPCompound, ReceiverReportWithoutBlocksAndTheSizeLimit) {
    rtp::RTCPCompoundBuilder small(rtp::RTCPCompoundBuilder::ReportBytes(false, 0) + 8);
    ASSERT_TRUE(small.AddReceiverReport(7, nullptr, 0));
    const std::string cname = "a-rather-long-canonical-name@host";
    EXPECT_FALSE(small.AddSDESCNAME(7, reinterpret_cast<const uint8_t*>(cname.data()), cname.size()));
    EXPECT_EQ(small.GetLength(), rtp::RTCPCompoundBuilder::ReportBytes(false, 0));  // nothing half-written
    rtp::RTCPCompoundPacket compound;
    ASSERT_TRUE(compound.Parse(small.GetData(), small.GetLength()));
    rtp::RTCPReportReader report;
    const auto packets = Packets(compound);
    ASSERT_TRUE(report.Parse(packets.at(0)));
    EXPECT_FALSE(report.IsSenderReport());
    EXPECT_EQ(report.GetReportBlockCount(), 0);
    EXPECT_FALSE(small.AddReceiverReport(7, nullptr, 32));  // more than 31 blocks
}

// A receiver report (8 bytes) followed by `tail`.
std::vector<uint8_t> AfterReport(const std::vector<uint8_t>& tail) {
    const uint8_t report[] = {0x80, 201, 0, 1, 0, 0, 0, 9};
    std::vector<uint8_t> bytes(sizeof report + tail.size());
    std::copy(std::begin(report), std::end(report), bytes.begin());
    std::copy(tail.begin(), tail.end(), bytes.begin() + sizeof report);
    return bytes;
}

TEST(RTCPCompound, MalformedCompoundsAreRefused) {
    rtp::RTCPCompoundPacket compound;
    const std::vector<uint8_t> good = AfterReport({});
    EXPECT_TRUE(compound.Parse(good.data(), good.size()));

    std::vector<uint8_t> version1 = good;
    version1[0] = 0x40;
    EXPECT_FALSE(compound.Parse(version1.data(), version1.size()));
    std::vector<uint8_t> tooLong = good;
    tooLong[3] = 2;  // announces 12 bytes
    EXPECT_FALSE(compound.Parse(tooLong.data(), tooLong.size()));
    const std::vector<uint8_t> startsWithSDES = {0x81, 202, 0, 1, 0, 0, 0, 9};
    EXPECT_FALSE(compound.Parse(startsWithSDES.data(), startsWithSDES.size()));
    std::vector<uint8_t> paddedFirst = AfterReport({0x80, 203, 0, 0});
    paddedFirst[0] |= 0x20;
    EXPECT_FALSE(compound.Parse(paddedFirst.data(), paddedFirst.size()));
    const std::vector<uint8_t> trailingBytes = AfterReport({0x80, 203});
    EXPECT_FALSE(compound.Parse(trailingBytes.data(), trailingBytes.size()));
    EXPECT_FALSE(compound.Parse(good.data(), 3));
}

TEST(RTCPCompound, PaddingOnTheLastPacketIsRemovedFromItsBody) {
    // BYE of one SSRC, padded by 4 bytes.
    const std::vector<uint8_t> bytes = AfterReport({0xA1, 203, 0, 2, 0, 0, 0, 5, 0, 0, 0, 4});
    rtp::RTCPCompoundPacket compound;
    ASSERT_TRUE(compound.Parse(bytes.data(), bytes.size()));
    const auto packets = Packets(compound);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].GetBodyLength(), 4u);
    rtp::RTCPBYEReader bye;
    ASSERT_TRUE(bye.Parse(packets[1]));
    EXPECT_EQ(bye.GetSSRC(0), 5u);
    EXPECT_EQ(bye.GetReasonLength(), 0u);
}

TEST(RTCPPackets, TruncatedContentsAreRefusedPerType) {
    rtp::RTCPCompoundPacket compound;
    auto secondPacket = [&](const std::vector<uint8_t>& bytes) {
        EXPECT_TRUE(compound.Parse(bytes.data(), bytes.size()));
        return Packets(compound).at(1);
    };
    // SR announcing one block but carrying none.
    const std::vector<uint8_t> shortSR =
        AfterReport({0x81, 200, 0, 6, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    rtp::RTCPReportReader report;
    EXPECT_FALSE(report.Parse(secondPacket(shortSR)));
    // SDES whose item runs past the packet.
    const std::vector<uint8_t> longItem = AfterReport({0x81, 202, 0, 2, 0, 0, 0, 1, 1, 9, 'a', 'b'});
    rtp::RTCPSDESReader sdes;
    EXPECT_FALSE(sdes.Parse(secondPacket(longItem)));
    // SDES announcing two chunks, carrying one.
    const std::vector<uint8_t> missingChunk = AfterReport({0x82, 202, 0, 2, 0, 0, 0, 1, 1, 1, 'a', 0});
    EXPECT_FALSE(sdes.Parse(secondPacket(missingChunk)));
    // BYE whose reason length runs past the packet.
    const std::vector<uint8_t> longReason = AfterReport({0x81, 203, 0, 2, 0, 0, 0, 1, 9, 'x', 'y', 'z'});
    rtp::RTCPBYEReader bye;
    EXPECT_FALSE(bye.Parse(secondPacket(longReason)));
    // APP without its name.
    const std::vector<uint8_t> shortApp = AfterReport({0x83, 204, 0, 1, 0, 0, 0, 1});
    rtp::RTCPAPPPacket app;
    EXPECT_FALSE(app.Parse(secondPacket(shortApp)));
    const std::vector<uint8_t> goodApp = AfterReport({0x83, 204, 0, 3, 0, 0, 0, 1, 'T', 'E', 'S', 'T', 1, 2, 3, 4});
    ASSERT_TRUE(app.Parse(secondPacket(goodApp)));
    EXPECT_EQ(app.GetSubType(), 3);
    EXPECT_EQ(app.GetSSRC(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(app.GetName()), 4), "TEST");
    EXPECT_EQ(Bytes(app.GetAPPData(), app.GetAPPDataLength()), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(RTCPPackets, SDESWithSeveralChunksAndItems) {
    const std::vector<uint8_t> bytes = AfterReport({0x82, 202, 0, 6,                                  //
                                                    0,    0,   0, 1, 1, 1, 'a', 7,   2, 'h', 'i', 0,  // CNAME + NOTE
                                                    0,    0,   0, 2, 1, 2, 'b', 'c', 0, 0,   0,   0});
    rtp::RTCPCompoundPacket compound;
    ASSERT_TRUE(compound.Parse(bytes.data(), bytes.size()));
    rtp::RTCPSDESReader sdes;
    ASSERT_TRUE(sdes.Parse(Packets(compound).at(1)));
    uint32_t ssrc;
    rtp::RTCPSDESReader::Item item;
    ASSERT_TRUE(sdes.NextChunk(&ssrc));
    EXPECT_EQ(ssrc, 1u);
    ASSERT_TRUE(sdes.NextItem(&item));
    EXPECT_EQ(item.type, rtp::kSDESCNAME);
    // Skipping the rest of a chunk lands on the next one.
    ASSERT_TRUE(sdes.NextChunk(&ssrc));
    EXPECT_EQ(ssrc, 2u);
    ASSERT_TRUE(sdes.NextItem(&item));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(item.data), item.length), "bc");
    EXPECT_FALSE(sdes.NextItem(&item));
    EXPECT_FALSE(sdes.NextChunk(&ssrc));
}

}  // namespace

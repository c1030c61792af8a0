// GStreamer's rtpbin as the remote end of our voice session: it receives our
// RTP and RTCP and sends its own. Our session must validate rtpbin's source
// and read its reports about us; rtpbin's statistics must show our reports.
#include "transport_test_support.h"

#include <gio/gio.h>
#include <gst/gst.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <sstream>

namespace {
using namespace transport_testing;
using testing_support::kLoopback;

struct PipelineDeleter {
    void operator()(GstElement* pipeline) const {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};
using Pipeline = std::unique_ptr<GstElement, PipelineDeleter>;

// rtpbin's decoded stream goes nowhere, but its pad must be linked.
void LinkToFakeSink(GstElement*, GstPad* pad, gpointer pipeline) {
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC || !g_str_has_prefix(GST_PAD_NAME(pad), "recv_rtp_src_")) return;
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
}

// What rtpbin's session knows about one SSRC, or nothing yet.
struct RemoteView {
    bool haveSenderReport = false;
    unsigned senderPacketCount = 0;
};

RemoteView RtpbinViewOf(GstElement* rtpbin, uint32_t ssrc) {
    RemoteView view;
    GObject* session = nullptr;
    g_signal_emit_by_name(rtpbin, "get-internal-session", 0u, &session);
    if (!session) return view;
    GObject* source = nullptr;
    g_signal_emit_by_name(session, "get-source-by-ssrc", ssrc, &source);
    if (source) {
        GstStructure* stats = nullptr;
        g_object_get(source, "stats", &stats, nullptr);
        if (stats) {
            gboolean haveSr = FALSE;
            gst_structure_get_boolean(stats, "have-sr", &haveSr);
            view.haveSenderReport = haveSr;
            gst_structure_get_uint(stats, "sr-packet-count", &view.senderPacketCount);
            gst_structure_free(stats);
        }
        g_object_unref(source);
    }
    g_object_unref(session);
    return view;
}

// Our session's view of rtpbin's source.
struct LocalView {
    bool validated = false;
    bool haveReportAboutUs = false;
    bool haveSenderReport = false;
};

LocalView OurViewOfOthers(CTavolinRTPSession& session) {
    LocalView view;
    session.BeginDataAccess();
    for (bool found = session.GotoFirstSource(); found; found = session.GotoNextSource()) {
        rtp::RTPSourceData* source = session.GetCurrentSourceInfo();
        view.validated |= source->IsValidated();
        view.haveReportAboutUs |= source->RR_HasInfo();
        view.haveSenderReport |= source->SR_HasInfo();
    }
    session.EndDataAccess();
    return view;
}

bool GstreamerAvailable() {
    if (!gst_init_check(nullptr, nullptr, nullptr)) return false;
    for (const char* name : {"rtpbin", "udpsrc", "udpsink", "audiotestsrc", "mulawenc", "rtppcmupay", "fakesink"}) {
        GstElementFactory* factory = gst_element_factory_find(name);
        if (!factory) return false;
        gst_object_unref(factory);
    }
    return true;
}

TEST_F(TransmissionTest, RtpbinExchangesRtpAndRtcpWithOurVoiceSession) {
    if (!GstreamerAvailable()) GTEST_SKIP() << "GStreamer or one of its rtp/udp/audio elements is missing";
    LearnPublicAddresses();  // before that, our session takes no RTP
    const uint16_t ourPort = transmission.GetLocalAudioPort();

    UdpPortPair remote;
    ASSERT_NE(remote.RtpPort(), 0);
    std::ostringstream description;
    description << "rtpbin name=rtpbin "
                << "udpsrc name=rtpin caps=\"application/x-rtp,media=audio,clock-rate=8000,"
                   "encoding-name=X-VOICE,payload=102\" ! rtpbin.recv_rtp_sink_0 "
                << "udpsrc name=rtcpin ! rtpbin.recv_rtcp_sink_0 "
                << "audiotestsrc is-live=true samplesperbuffer=240 ! mulawenc ! rtppcmupay ! rtpbin.send_rtp_sink_0 "
                << "rtpbin.send_rtp_src_0 ! udpsink name=rtpout host=127.0.0.1 port=" << ourPort
                << " sync=false async=false "
                << "rtpbin.send_rtcp_src_0 ! udpsink name=rtcpout host=127.0.0.1 port=" << ourPort + 1
                << " sync=false async=false";
    GError* error = nullptr;
    Pipeline pipeline(gst_parse_launch(description.str().c_str(), &error));
    ASSERT_TRUE(pipeline) << (error ? error->message : "parse failed");
    if (error) g_error_free(error);

    // rtpbin receives on our peer's sockets and sends from them as well.
    const char* names[2][2] = {{"rtpin", "rtpout"}, {"rtcpin", "rtcpout"}};
    const int fds[2] = {remote.RtpFd(), remote.RtcpFd()};
    for (int k = 0; k < 2; ++k) {
        GSocket* socket = g_socket_new_from_fd(dup(fds[k]), nullptr);
        ASSERT_NE(socket, nullptr);
        for (const char* name : names[k]) {
            GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline.get()), name);
            g_object_set(element, "socket", socket, "close-socket", FALSE, nullptr);
            gst_object_unref(element);
        }
        g_object_unref(socket);
    }
    GstElement* rtpbin = gst_bin_get_by_name(GST_BIN(pipeline.get()), "rtpbin");
    g_signal_connect(rtpbin, "pad-added", G_CALLBACK(LinkToFakeSink), pipeline.get());
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

    RecordingPacketSink sink;
    ASSERT_EQ(transmission.AddUser(3, kLoopback, kLoopback, &sink), 1);
    ASSERT_EQ(transmission.SetUserAudioPort(3, remote.RtpPort(), remote.RtpPort()), 1);
    CTavolinRTPSession& voice = *transmission.AudioSessionForTesting();
    const uint32_t ourSsrc = voice.GetLocalSSRC();

    // A voice frame per pump round (20 ms at most) until both sides have reported.
    const uint8_t frame[51] = {1};
    int sent = 0;
    LocalView local;
    RemoteView remoteView;
    const bool done = window.PumpUntil(
        [&] {
            if (transmission.SendAudio(frame, sizeof frame)) ++sent;
            local = OurViewOfOthers(voice);
            remoteView = RtpbinViewOf(rtpbin, ourSsrc);
            return local.validated && local.haveReportAboutUs && local.haveSenderReport && remoteView.haveSenderReport;
        },
        15000);
    gst_object_unref(rtpbin);
    EXPECT_TRUE(done);
    EXPECT_TRUE(local.validated) << "rtpbin's RTP passed our probation";
    EXPECT_TRUE(local.haveReportAboutUs) << "rtpbin's report block about our stream arrived";
    EXPECT_TRUE(local.haveSenderReport);
    EXPECT_TRUE(remoteView.haveSenderReport) << "rtpbin holds our sender report";
    EXPECT_GT(remoteView.senderPacketCount, 0u);
    EXPECT_LE(remoteView.senderPacketCount, static_cast<unsigned>(sent));
}

}  // namespace

#include "tools/room/relay_report.h"

#include "tools/room/json_writer.h"

namespace room {
namespace {
const char* MediumName(RelayMedium medium) { return medium == RelayMedium::kAudio ? "audio" : "video"; }
}  // namespace

std::string RelayJson(const ImpairmentRelay& relay) {
    const ImpairmentSettings& settings = relay.Settings();
    JsonWriter json;
    json.BeginObject().Key("settings").BeginObject();
    json.Key("loss_percent").Number(settings.lossPercent).Key("burst").Number(settings.burst);
    json.Key("delay_ms").Number(settings.delayMs).Key("jitter_ms").Number(settings.jitterMs);
    json.Key("reorder_percent").Number(settings.reorderPercent);
    json.Key("duplicate_percent").Number(settings.duplicatePercent);
    json.Key("drop_feedback").Bool(settings.dropFeedback);
    json.Key("seed").Number(static_cast<double>(settings.seed)).EndObject();
    json.Key("flows").BeginArray();
    for (const RelayFlowCounts& flow : relay.Flows()) {
        const RelayCounts& c = flow.counts;
        json.BeginObject().Key("from").Number(flow.from).Key("to").Number(flow.to);
        json.Key("medium").String(MediumName(flow.medium)).Key("channel").String(flow.rtcp ? "rtcp" : "rtp");
        json.Key("received").Number(double(c.received)).Key("forwarded").Number(double(c.forwarded));
        json.Key("dropped").Number(double(c.dropped)).Key("duplicated").Number(double(c.duplicated));
        json.Key("reordered").Number(double(c.reordered));
        json.Key("feedback_dropped").Number(double(c.feedbackDropped)).EndObject();
    }
    json.EndArray().EndObject();
    return json.Text();
}

}  // namespace room

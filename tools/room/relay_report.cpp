#include "tools/room/relay_report.h"

namespace room {
namespace {
const char* MediumName(RelayMedium medium) { return medium == RelayMedium::kAudio ? "audio" : "video"; }
}  // namespace

JsonValue RelayJson(const ImpairmentRelay& relay) {
    const ImpairmentSettings& settings = relay.Settings();
    JsonValue flows = JsonValue::Array{};
    for (const RelayFlowCounts& flow : relay.Flows()) {
        const RelayCounts& c = flow.counts;
        flows.Push(JsonValue::Object{{"from", flow.from},
                                     {"to", flow.to},
                                     {"medium", MediumName(flow.medium)},
                                     {"channel", flow.rtcp ? "rtcp" : "rtp"},
                                     {"received", c.received},
                                     {"forwarded", c.forwarded},
                                     {"dropped", c.dropped},
                                     {"duplicated", c.duplicated},
                                     {"reordered", c.reordered},
                                     {"feedback_dropped", c.feedbackDropped}});
    }
    return JsonValue::Object{{"settings", JsonValue::Object{{"loss_percent", settings.lossPercent},
                                                            {"burst", settings.burst},
                                                            {"delay_ms", settings.delayMs},
                                                            {"jitter_ms", settings.jitterMs},
                                                            {"reorder_percent", settings.reorderPercent},
                                                            {"duplicate_percent", settings.duplicatePercent},
                                                            {"drop_feedback", settings.dropFeedback},
                                                            {"seed", settings.seed}}},
                             {"flows", std::move(flows)}};
}

}  // namespace room

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
                                     {"feedback_dropped", c.feedbackDropped},
                                     {"uplink_dropped", c.uplinkDropped}});
    }
    JsonValue rates = JsonValue::Array{};
    for (const PlayerSendRate& rate : relay.SendRates()) {
        JsonValue kbits = JsonValue::Array{};
        for (const uint64_t bytes : rate.bytesPerSecond) kbits.Push(static_cast<double>(bytes) * 8 / 1000);
        rates.Push(JsonValue::Object{{"player", rate.player}, {"kbits_per_second", std::move(kbits)}});
    }
    const UplinkSettings& uplink = settings.uplink;
    return JsonValue::Object{{"settings", JsonValue::Object{{"loss_percent", settings.lossPercent},
                                                            {"burst", settings.burst},
                                                            {"delay_ms", settings.delayMs},
                                                            {"jitter_ms", settings.jitterMs},
                                                            {"reorder_percent", settings.reorderPercent},
                                                            {"duplicate_percent", settings.duplicatePercent},
                                                            {"drop_feedback", settings.dropFeedback},
                                                            {"seed", settings.seed},
                                                            {"uplink_player", uplink.player},
                                                            {"uplink_kbits", uplink.kbits},
                                                            {"uplink_drop_at_s", uplink.dropAtSeconds},
                                                            {"uplink_to_kbits", uplink.dropToKbits},
                                                            {"uplink_lift_at_s", uplink.liftAtSeconds}}},
                             {"flows", std::move(flows)},
                             {"send_rates", std::move(rates)}};
}

}  // namespace room

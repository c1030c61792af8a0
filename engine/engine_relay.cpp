// The host's relay interface: the servers and policy the sessions are
// created with, their figures, and the events of their allocations.
#include "engine/engine.h"
#include "engine/host_events.h"
#include "engine/log_texts.h"
#include "engine/statistics.h"
#include "platform/log.h"

#include <string>
#include <vector>

namespace {
// More servers than any lobby hands out; the list is tried in order.
constexpr int kMaxRelayServers = 8;
constexpr uint32_t kSmallestSize = 8;

const char* Describe(relay::RelayEventKind kind) {
    switch (kind) {
        case relay::RelayEventKind::kAuthenticationFailed: return "credentials refused";
        case relay::RelayEventKind::kRefused: return "allocation refused";
        case relay::RelayEventKind::kNewPortsNeeded: return "address still allocated";
        case relay::RelayEventKind::kRequestTimedOut: return "no answer";
        case relay::RelayEventKind::kAllocationLost: return "allocation lost";
        case relay::RelayEventKind::kServerSilent: return "server silent";
        case relay::RelayEventKind::kConnectionLost: return "connection lost";
        default: return "failed";
    }
}

std::string DottedEndpoint(const rtp::RTPIPv4Address& address) {
    const uint32_t ip = address.GetIP();
    return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." + std::to_string((ip >> 8) & 0xFF) +
           "." + std::to_string(ip & 0xFF) + ":" + std::to_string(address.GetPort());
}

bool IsMedium(int medium) { return medium == TAVOLIN_MEDIUM_VOICE || medium == TAVOLIN_MEDIUM_VIDEO; }
}  // namespace

int CTavolinEngineImpl::SetRelayServers(const TavolinRelayServer* servers, int count) {
    if (m_hWnd || count < 0 || count > kMaxRelayServers || (count > 0 && !servers)) return 0;
    std::vector<relay::RelayServer> taken;
    for (int i = 0; i < count; ++i) {
        const TavolinRelayServer& server = servers[i];
        const bool knownTransport = server.transport == TAVOLIN_RELAY_UDP || server.transport == TAVOLIN_RELAY_TCP;
        if (!server.username || !server.password || !knownTransport || server.port <= 0 || server.port > 0xFFFF)
            return 0;
        taken.push_back(
            {rtp::RTPIPv4Address(server.address, static_cast<uint16_t>(server.port)), server.username, server.password,
             server.transport == TAVOLIN_RELAY_TCP ? relay::RelayTransport::kTcp : relay::RelayTransport::kUdp});
    }
    m_RelaySettings.servers = std::move(taken);
    return 1;
}

int CTavolinEngineImpl::SetRelayPolicy(int policy) {
    if (m_hWnd) return 0;
    switch (policy) {
        case TAVOLIN_RELAY_NEVER: m_RelaySettings.policy = RelayPolicy::kNever; return 1;
        case TAVOLIN_RELAY_WHEN_NEEDED: m_RelaySettings.policy = RelayPolicy::kWhenNeeded; return 1;
        case TAVOLIN_RELAY_ALWAYS: m_RelaySettings.policy = RelayPolicy::kAlways; return 1;
        default: return 0;
    }
}

int CTavolinEngineImpl::GetRelayStatistics(int medium, TavolinRelayStatistics* out) {
    if (!out || out->size < kSmallestSize || !IsMedium(medium)) return 0;
    SessionRelayFigures figures;
    if (!m_Transmission.GetRelayFigures(MediumOf(medium == TAVOLIN_MEDIUM_VIDEO), &figures)) return 0;
    TavolinRelayStatistics filled{};
    filled.relayed = figures.relayed;
    filled.failed = figures.failed;
    filled.serverAddress = figures.server.GetIP();
    filled.serverPort = figures.server.GetPort();
    filled.relayedAddress = figures.relayedAddress.GetIP();
    filled.relayedPort = figures.relayedAddress.GetPort();
    // The RTCP socket starts once the RTP socket's answer kept its port.
    filled.allocationMs = figures.rtcp.allocationMs < 0 ? -1 : figures.rtp.allocationMs + figures.rtcp.allocationMs;
    filled.failovers = figures.failovers;
    for (const relay::RelayFigures* socket : {&figures.rtp, &figures.rtcp}) {
        filled.refreshes += socket->refreshes;
        filled.unauthorized += socket->unauthorized;
        filled.mismatches += socket->mismatches;
        filled.staleNonces += socket->staleNonces;
        filled.datagramsOut += socket->datagramsOut;
        filled.bytesOut += socket->bytesOut;
        filled.datagramsIn += socket->datagramsIn;
        filled.bytesIn += socket->bytesIn;
    }
    return HandToHost(filled, out);
}

void CTavolinEngineImpl::WatchRelays() {
    for (const int medium : {TAVOLIN_MEDIUM_VOICE, TAVOLIN_MEDIUM_VIDEO}) {
        SessionRelayFigures figures;
        if (!m_Transmission.GetRelayFigures(MediumOf(medium == TAVOLIN_MEDIUM_VIDEO), &figures)) continue;
        // A failure before the allocation that followed it, as they happened.
        if (figures.failures > m_uRelayFailuresTold[medium]) {
            m_uRelayFailuresTold[medium] = figures.failures;
            const std::string server = DottedEndpoint(figures.failedServer);
            LogTo(m_pLog, figures.failed ? engine_log::kRelayFailed : engine_log::kRelayFailedOver, server.c_str(),
                  Describe(figures.lastEvent));
            if (m_bHostLeft) return;  // the log sink may have destroyed the engine
            m_Events.Emit(TAVOLIN_EVENT_RELAY_FAILED, -1, medium, figures.failedServer.GetIP(),
                          figures.failedServer.GetPort(), Describe(figures.lastEvent));
        }
        if (figures.relayed && figures.allocations > m_uRelayAllocationsTold[medium]) {
            m_uRelayAllocationsTold[medium] = figures.allocations;
            m_Events.Emit(TAVOLIN_EVENT_RELAY_ALLOCATED, -1, medium, figures.relayedAddress.GetIP(),
                          figures.relayedAddress.GetPort());
        }
    }
}

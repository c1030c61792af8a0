// The engine's own figures as the host reads them through the statistics
// interface: taken on each player's engine thread before it is destroyed,
// printed as the transport table and written to stats.json.
#pragma once

#include <tavolin/tavolin.h>

#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>

namespace room {

struct RoomReport;

struct EngineFigures {
    std::optional<TavolinLocalStatistics> local;
    std::map<int, TavolinPeerStatistics> peers;  // by sender
};

// Engine thread. Empty when the engine has no statistics interface.
EngineFigures ReadEngineFigures(ITavolinEngine& engine, const std::set<int>& peers);

void PrintTransportTable(const RoomReport& report, std::ostream& out);
std::string TransportJson(const RoomReport& report);

}  // namespace room

// The engine's own figures as the host reads them through the statistics
// interface: taken on each player's engine thread before it is destroyed.
#pragma once

#include <tavolin/tavolin.h>

#include <map>
#include <optional>
#include <set>

namespace room {

struct EngineFigures {
    std::optional<TavolinLocalStatistics> local;
    std::map<int, TavolinPeerStatistics> peers;  // by sender
};

// Engine thread. Empty when the engine has no statistics interface.
EngineFigures ReadEngineFigures(ITavolinEngine& engine, const std::set<int>& peers);

}  // namespace room

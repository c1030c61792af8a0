#include "testbed/measurement/engine_figures.h"

namespace room {

EngineFigures ReadEngineFigures(ITavolinEngine& engine, const std::set<int>& peers) {
    EngineFigures figures;
    ITavolinStatistics* statistics = nullptr;
    if (FAILED(engine.QueryInterface(IID_ITavolinStatistics, reinterpret_cast<void**>(&statistics))) || !statistics)
        return figures;
    TavolinLocalStatistics local{};
    local.size = sizeof local;
    if (statistics->GetLocalStatistics(&local)) figures.local = local;
    for (int peer : peers) {
        TavolinPeerStatistics figuresOfPeer{};
        figuresOfPeer.size = sizeof figuresOfPeer;
        if (statistics->GetPeerStatistics(peer, &figuresOfPeer)) figures.peers[peer] = figuresOfPeer;
    }
    statistics->Release();
    return figures;
}

}  // namespace room

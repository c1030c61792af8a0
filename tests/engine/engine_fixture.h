// An engine built through the entry, with a test host, a stand-in
// public-address server on loopback and helpers to pump its window.
#pragma once

#include "engine/engine.h"
#include "engine/window_messages.h"
#include "tests/engine/test_host.h"
#include "tests/support/udp_peer.h"

#include <gtest/gtest.h>

namespace testing_support {

inline HINSTANCE TestInstance() {
    static int module;
    return reinterpret_cast<HINSTANCE>(&module);
}

class EngineTest : public ::testing::Test {
protected:
    static constexpr int kLocalId = 1;

    void SetUp() override {
        ASSERT_EQ(S_OK,
                  DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)));
        impl = static_cast<CTavolinEngineImpl*>(engine);
    }
    void TearDown() override {
        if (engine) engine->Release();
    }
    // Receive-only by default: no camera or encoder unless a test asks.
    int CreateEngine(int receiveOnly = 1) {
        engine->SetEventSink(&host);
        return engine->Create(TestInstance(), kLoopback, server.Port(), kLocalId, 0, receiveOnly);
    }
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
        return CTavolinEngineImpl::WindowProc(nullptr, message, wParam, lParam);
    }
    LPARAM EngineParam() { return reinterpret_cast<LPARAM>(impl); }

    ITavolinEngine* engine = nullptr;
    CTavolinEngineImpl* impl = nullptr;
    TestEventSink host;
    UdpPeer server;
};

}  // namespace testing_support

// The exported entry and the engine's reference counting.
#include "engine/engine.h"

#include <gtest/gtest.h>

namespace {
template <typename T>
HRESULT Get(const CLSID& classId, const IID& iid, T** out) {
    return DllGetClassObjectEx(&classId, &iid, reinterpret_cast<void**>(out));
}
}  // namespace

TEST(Entry, HandsOutOneReferencePerNewEngine) {
    ITavolinEngine* first = nullptr;
    ITavolinEngine* second = nullptr;
    ASSERT_EQ(S_OK, Get(CLSID_TavolinEngine, IID_ITavolinEngine, &first));
    ASSERT_EQ(S_OK, Get(CLSID_TavolinEngine, IID_ITavolinEngine, &second));
    EXPECT_NE(first, second);
    EXPECT_EQ(2u, first->AddRef());
    EXPECT_EQ(1u, first->Release());
    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(0u, second->Release());
}

TEST(Entry, RefusesUnknownInterfacesAndClassesWithoutLeaking) {
    void* out = reinterpret_cast<void*>(0x1234);
    // The object is built, asked, and freed again (LeakSanitizer checks the rest).
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_IUnknown, &out));
    EXPECT_EQ(reinterpret_cast<void*>(0x1234), out);
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObjectEx(&IID_ITavolinEngine, &IID_ITavolinEngine, &out));
    EXPECT_EQ(E_INVALIDARG, DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, nullptr));
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObjectEx(&CLSID_TavolinDeviceEnum, &IID_ITavolinEngine, &out));
}

TEST(Entry, BothEngineViewsShareOneObjectAndOneCount) {
    ITavolinVideoDevice* device = nullptr;
    ASSERT_EQ(S_OK, Get(CLSID_TavolinEngine, IID_ITavolinVideoDevice, &device));
    ITavolinEngine* engine = nullptr;
    ASSERT_EQ(S_OK, device->QueryInterface(IID_ITavolinEngine, reinterpret_cast<void**>(&engine)));
    EXPECT_EQ(static_cast<CTavolinEngineImpl*>(engine), static_cast<CTavolinEngineImpl*>(device));
    EXPECT_EQ(3u, engine->AddRef());
    EXPECT_EQ(2u, device->Release());
    EXPECT_EQ(1u, engine->Release());
    EXPECT_EQ(E_INVALIDARG, device->QueryInterface(IID_ITavolinEngine, nullptr));
    EXPECT_EQ(0u, device->Release());
}

TEST(Entry, HandsOutTheDeviceEnumerator) {
    ITavolinDeviceEnum* devices = nullptr;
    ASSERT_EQ(S_OK, Get(CLSID_TavolinDeviceEnum, IID_ITavolinDeviceEnum, &devices));
    EXPECT_EQ(0u, devices->Release());
}

// Reference counting and QueryInterface for the media layer's objects:
// an object lists the interfaces it answers, and its last Release deletes it.
#pragma once

#include "platform/media/media_interfaces.h"

#include <atomic>

namespace media {

template <class First, class... Rest>
class MediaObject : public First, public Rest... {
public:
    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!out) return E_POINTER;
        void* found = IsEqualGUID(iid, IID_IUnknown) ? static_cast<First*>(this) : nullptr;
        if (!found) found = Find<First>(iid);
        ((found = found ? found : Find<Rest>(iid)), ...);
        if (!found) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = found;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override {
        const ULONG left = --m_references;
        if (left == 0) delete this;
        return left;
    }

protected:
    MediaObject() = default;
    virtual ~MediaObject() = default;
    MediaObject(const MediaObject&) = delete;
    MediaObject& operator=(const MediaObject&) = delete;

private:
    template <class Interface>
    void* Find(const IID& iid) {
        return IsEqualGUID(iid, Interface::iid) ? static_cast<Interface*>(this) : nullptr;
    }

    std::atomic<ULONG> m_references{1};
};

// Releases an interface pointer when it goes out of scope.
template <class Interface>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(Interface* owned) : m_pointer(owned) {}
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    Interface* Get() const { return m_pointer; }
    Interface* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }
    Interface** Out() {
        Reset();
        return &m_pointer;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    void Reset() {
        if (m_pointer) m_pointer->Release();
        m_pointer = nullptr;
    }

private:
    Interface* m_pointer = nullptr;
};

}  // namespace media

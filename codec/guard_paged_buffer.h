// A zero-filled byte buffer that ends exactly where an inaccessible page
// begins, so a write or read past its end faults at once instead of
// corrupting whatever lies behind it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace codec {

class GuardPagedBuffer {
public:
    GuardPagedBuffer() = default;
    // On failure the buffer stays empty (data() is null).
    explicit GuardPagedBuffer(size_t bytes);
    ~GuardPagedBuffer();
    GuardPagedBuffer(GuardPagedBuffer&& other) noexcept;
    GuardPagedBuffer& operator=(GuardPagedBuffer&& other) noexcept;
    GuardPagedBuffer(const GuardPagedBuffer&) = delete;
    GuardPagedBuffer& operator=(const GuardPagedBuffer&) = delete;

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    void Unmap();

    void* mapping_ = nullptr;
    size_t mappingBytes_ = 0;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace codec

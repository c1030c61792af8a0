#include "codec/guard_paged_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <utility>

namespace codec {

GuardPagedBuffer::GuardPagedBuffer(size_t bytes) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t dataPages = (bytes + page - 1) / page;
    const size_t total = (dataPages + 1) * page;
    void* mapping = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return;
    uint8_t* base = static_cast<uint8_t*>(mapping);
    if (mprotect(base + dataPages * page, page, PROT_NONE) != 0) {
        munmap(mapping, total);
        return;
    }
    mapping_ = mapping;
    mappingBytes_ = total;
    data_ = base + dataPages * page - bytes;
    size_ = bytes;
}

GuardPagedBuffer::~GuardPagedBuffer() { Unmap(); }

GuardPagedBuffer::GuardPagedBuffer(GuardPagedBuffer&& other) noexcept { *this = std::move(other); }

GuardPagedBuffer& GuardPagedBuffer::operator=(GuardPagedBuffer&& other) noexcept {
    if (this != &other) {
        Unmap();
        mapping_ = std::exchange(other.mapping_, nullptr);
        mappingBytes_ = std::exchange(other.mappingBytes_, 0);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void GuardPagedBuffer::Unmap() {
    if (mapping_) munmap(mapping_, mappingBytes_);
    mapping_ = nullptr;
    mappingBytes_ = 0;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace codec

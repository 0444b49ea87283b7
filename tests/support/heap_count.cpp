#include "tests/support/heap_count.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<std::int64_t> heapNow{0};
std::atomic<std::int64_t> heapPeak{0};

// Each block carries the size asked for in a header before it, so that the
// count is what the program asked for, whatever the allocator rounds or
// aligns.
constexpr std::size_t kHeader = 64;

void* Allocate(std::size_t size, std::size_t alignment) {
    const std::size_t header = std::max(kHeader, alignment);
    // aligned_alloc takes only whole multiples of the alignment.
    auto* base = static_cast<unsigned char*>(
        std::aligned_alloc(header, (size + 2 * header - 1) / header * header));
    if (base == nullptr) {
        throw std::bad_alloc();
    }
    unsigned char* p = base + header;
    const std::size_t fields[2] = {size, header};
    std::memcpy(p - sizeof fields, fields, sizeof fields);
    const auto bytes = static_cast<std::int64_t>(size);
    const std::int64_t now = heapNow.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::int64_t peak = heapPeak.load(std::memory_order_relaxed);
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
    return p;
}

void Release(void* block) {
    if (block != nullptr) {
        auto* p = static_cast<unsigned char*>(block);
        std::size_t fields[2];
        std::memcpy(fields, p - sizeof fields, sizeof fields);
        heapNow.fetch_sub(static_cast<std::int64_t>(fields[0]), std::memory_order_relaxed);
        std::free(p - fields[1]);
    }
}

// The nothrow forms (std::stable_sort's buffer takes one) must count too, so
// that every block comes from, and goes back to, the same allocator.
void* AllocateOrNull(std::size_t size, std::size_t alignment) noexcept {
    try {
        return Allocate(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

namespace weftloom::test {

std::int64_t HeapNow() {
    return heapNow.load();
}

void ResetHeapPeak() {
    heapPeak.store(heapNow.load());
}

std::int64_t HeapPeak() {
    return heapPeak.load();
}

}  // namespace weftloom::test

void* operator new(std::size_t size) {
    return Allocate(size, 0);
}
void* operator new[](std::size_t size) {
    return Allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return Allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return Allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    Release(p);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, 0);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, static_cast<std::size_t>(a));
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    Release(p);
}

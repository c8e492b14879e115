#include "alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int activeCounters = 0;
thread_local std::size_t allocations = 0;

void* Allocate(std::size_t size) {
    if (activeCounters > 0) {
        ++allocations;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
    if (activeCounters > 0) {
        ++allocations;
    }
    const auto a = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return AllocateAligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return AllocateAligned(size, a);
}
// The nothrow forms too (std::stable_sort's buffer comes from one): every allocation of the
// program goes through the same pair, or the sanitizer sees malloc's memory handed to its delete.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    try {
        return AllocateAligned(size, a);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t& tag) noexcept {
    return operator new(size, a, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace testsupport {

AllocationCounter::AllocationCounter() {
    if (activeCounters++ == 0) {
        allocations = 0;
    }
}

AllocationCounter::~AllocationCounter() {
    --activeCounters;
}

std::size_t AllocationCounter::Count() const {
    return allocations;
}

}  // namespace testsupport

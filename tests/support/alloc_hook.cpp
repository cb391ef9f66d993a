#include "support/alloc_hook.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<int> g_remaining{0};
std::atomic<int> g_count{0};

void* Allocate(std::size_t size) { return std::malloc(size ? size : 1); }

void* AllocateOrThrow(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}

void* AllocateNothrow(std::size_t size) {
    ++g_count;
    if (g_armed && g_remaining.fetch_sub(1) <= 0) return nullptr;
    return Allocate(size);
}

}  // namespace

namespace test {

void FailNothrowAllocationsAfter(int successes) {
    g_count = 0;
    g_remaining = successes;
    g_armed = true;
}

void DisarmAllocationFailure() { g_armed = false; }

int NothrowAllocations() { return g_count; }

}  // namespace test

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateNothrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateNothrow(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

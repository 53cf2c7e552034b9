#include "allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

void noteAllocation() {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void* operator new(std::size_t size) {
    noteAllocation();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    noteAllocation();
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
// The replaced operator new takes its memory from malloc, so free is the matching release; the
// compiler cannot see that pairing across the replacement and would warn about it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// malloc and friends are replaced where glibc allows it; the sanitizers bring their own, so there only
// operator new is counted.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    noteAllocation();
    return __libc_realloc(p, size);
}
}
#define LUMISERE_COUNTS_MALLOC 1
#endif

namespace lumisere::test {

void startCountingAllocations() {
    gAllocations.store(0);
    gCounting.store(true);
}

long stopCountingAllocations() {
    gCounting.store(false);
    return gAllocations.load();
}

namespace {

TEST(Realtime, TheCountingSeesAllocations) {
    // The counter itself works: a vector allocates.
    EXPECT_GE(allocationsDuring([] { std::vector<int> v(100); }), 1);
#ifdef LUMISERE_COUNTS_MALLOC
    EXPECT_EQ(allocationsDuring([] { std::free(std::malloc(16)); }), 1);
#endif
}

}  // namespace
}  // namespace lumisere::test

#include "support/AllocationMeter.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include <malloc.h>

namespace {

std::atomic<std::size_t> held { 0 };
std::atomic<std::size_t> peak { 0 };

} // namespace

#ifndef __SANITIZE_ADDRESS__
// Replacing the plain forms is enough: the array, sized and nothrow forms call them.
void* operator new(std::size_t size)
{
    void* block = std::malloc(size == 0 ? 1 : size);
    if (!block)
        throw std::bad_alloc();
    const std::size_t now = held.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block);
    std::size_t seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) { }
    return block;
}

void operator delete(void* block) noexcept
{
    if (!block)
        return;
    held.fetch_sub(malloc_usable_size(block));
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    ::operator delete(block);
}
#endif

namespace tessaly::test {

bool allocationsMeasured()
{
#ifdef __SANITIZE_ADDRESS__
    return false;
#else
    return true;
#endif
}

std::size_t peakGrowth(const std::function<void()>& work)
{
    const std::size_t before = held.load();
    peak.store(before);
    work();
    return peak.load() - before;
}

} // namespace tessaly::test

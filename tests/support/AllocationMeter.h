#pragma once

#include <cstddef>
#include <functional>

namespace tessaly::test {

// False in sanitizer builds, whose allocator keeps freed memory and is not replaced.
bool allocationsMeasured();
// The most bytes held through operator new at any one time while `work` ran, beyond what was
// held before it started.
std::size_t peakGrowth(const std::function<void()>& work);

} // namespace tessaly::test

// One libFuzzer binary per target: fuzz/run compiles this file with TESSALY_FUZZ_TARGET set to
// the name of one function of FuzzTargets.h.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tessaly::fuzz::TESSALY_FUZZ_TARGET(data, size);
    return 0;
}

// Runs every operation of the raw container reader over arbitrary bytes; any
// exception of the framework is an accepted outcome, a crash is not.

#include "BribReaderExercise.h"
#include "FException.h"
#include "RawTestFolder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const rawtest::Bytes bytes(data, data + size);
    try {
        rawtest::ExerciseBribReader(rawtest::PutMemoryFile("fuzz.q7f", bytes));
    } catch (const FException&) {
    }
    return 0;
}

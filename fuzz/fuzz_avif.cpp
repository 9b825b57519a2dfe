// libFuzzer target: the AVIF reader (libavif behind our size checks) on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"

using namespace parvula::imaging;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    parvula::fuzz::ExerciseReader(data, size, [](TBytes bytes) -> std::unique_ptr<TGraphic> {
        return ReadAvif(TSharedBytes::Own(std::move(bytes)));
    });
    return 0;
}

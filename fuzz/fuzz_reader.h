// What every reader fuzzer does with its input: decode it like LoadFromFile and convert the
// result to a bitmap, so a lazily decoded graphic is decoded too. Our own errors are expected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/imagefiles.h"
#include "imaging/imagefiles_internal.h"

namespace parvula::fuzz {

template <typename TReader>
void ExerciseReader(const std::uint8_t* data, std::size_t size, TReader read)
{
    using namespace parvula::imaging;
    try {
        TPicture picture;
        picture.SetGraphic(read(TBytes(data, data + size)));
        const TBitmap bitmap = ConvertToBitmap(picture);
        // Touch the last row so a bitmap shorter than it claims is caught here.
        if (bitmap.Height() > 0 && bitmap.Width() > 0)
            (void)bitmap.PixelColor(bitmap.Width() - 1, bitmap.Height() - 1);
    } catch (const EImageError&) {
    }
}

} // namespace parvula::fuzz

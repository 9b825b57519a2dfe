// A codec's shared library opened when the first file of its format is read, not at start-up:
// libheif and libavif bring encoders and AV1 decoders along that would otherwise add more
// memory to every process than a whole streamed thumbnail takes.
#pragma once

#include "platform/platform_library.h"

namespace parvula::imaging {

class TCodecLibrary {
public:
    explicit TCodecLibrary(const char* fileName)
        : m_library(fileName)
    {
    }

    // The function's address into slot, typed as the library's header declares it; false when
    // the library or the function is missing.
    template <class TFunction> bool Bind(TFunction*& slot, const char* name) const
    {
        slot = reinterpret_cast<TFunction*>(m_library.Symbol(name));
        return slot != nullptr;
    }

private:
    platform::TSharedLibrary m_library;
};

// What reading a file of format says when its library could not be opened or lacks a function
// this build calls.
[[noreturn]] void FailLibraryMissing(const char* format, const char* fileName);

} // namespace parvula::imaging

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

// The body of a table of a library's functions: a slot per function of LIST, typed as the
// library's header declares it, and BindFrom(library). LIST(F) gives F(name) for each function,
// named without the library's prefix; PARVULA_CODEC_PREFIX(name) gives the whole name.
#define PARVULA_CODEC_TABLE(LIST)                                                                  \
    LIST(PARVULA_CODEC_SLOT)                                                                       \
    bool BindFrom(const ::parvula::imaging::TCodecLibrary& library)                                \
    {                                                                                              \
        bool complete = true;                                                                      \
        LIST(PARVULA_CODEC_BIND)                                                                   \
        return complete;                                                                           \
    }
#define PARVULA_CODEC_SLOT(name) decltype(&::PARVULA_CODEC_PREFIX(name)) name = nullptr;
#define PARVULA_CODEC_BIND(name)                                                                   \
    complete = library.Bind(name, PARVULA_CODEC_TEXT(PARVULA_CODEC_PREFIX(name))) && complete;
#define PARVULA_CODEC_TEXT(name) PARVULA_CODEC_TEXT_OF(name)
#define PARVULA_CODEC_TEXT_OF(name) #name

// The table of a library's functions, bound once, on the first call, from the library of that
// file name; nullptr when the library or one of the functions is missing. TFunctions has a slot
// per function and BindFrom(library), which fills every slot and says whether all were found
// (PARVULA_CODEC_TABLE writes both).
template <class TFunctions> const TFunctions* CodecFunctions(const char* fileName)
{
    static const TCodecLibrary library(fileName);
    static TFunctions functions;
    static const bool complete = functions.BindFrom(library);
    return complete ? &functions : nullptr;
}

// What reading a file of format says when its library could not be opened or lacks a function
// this build calls.
[[noreturn]] void FailLibraryMissing(const char* format, const char* fileName);

} // namespace parvula::imaging

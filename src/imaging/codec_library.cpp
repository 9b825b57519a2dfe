#include "imaging/codec_library.h"

#include "errors/errors.h"

namespace parvula::imaging {

void FailLibraryMissing(const char* format, const char* fileName)
{
    throw errors::EError(errors::TCode::PhotoLibraryMissing, {}, { format, fileName });
}

} // namespace parvula::imaging

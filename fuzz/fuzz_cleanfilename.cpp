// libFuzzer target: CleanFileName on an arbitrary name and replacement. With a clean replacement
// the result holds no character a file name may not hold and no blank at either end.
#include <cstddef>
#include <cstdint>

#include "app/BasUnit1_batch.h"
#include "fuzz_text.h"

namespace {

bool Forbidden(QChar c) { return c.unicode() < 32 || QStringView(u"\"*/:<>?\\|").contains(c); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QStringList args = parvula::fuzz::TextArguments(data, size, 2);
    const QString cleaned = parvula::app::CleanFileName(args[0], args[1]);
    if (!std::any_of(args[1].begin(), args[1].end(), Forbidden)) {
        if (std::any_of(cleaned.begin(), cleaned.end(), Forbidden))
            __builtin_trap();
        if (!cleaned.isEmpty()
            && (cleaned.front().unicode() <= 32 || cleaned.back().unicode() <= 32))
            __builtin_trap();
    }
    return 0;
}

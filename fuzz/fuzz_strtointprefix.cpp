// libFuzzer target: StrToIntPrefix on arbitrary text; a plain decimal number must read back as
// itself, whatever follows it.
#include <cstddef>
#include <cstdint>

#include "framework/spz1_text.h"
#include "fuzz_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = parvula::fuzz::TextArguments(data, size, 1).at(0);
    (void)parvula::framework::StrToIntPrefix(text);
    if (size >= 4) {
        // The first four bytes as a number, written out in decimal with the rest appended
        // after a letter that cannot continue it.
        const qint32 value
            = static_cast<qint32>(std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8
                | std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        const QString written = QString::number(value) + u'g' + text;
        if (parvula::framework::StrToIntPrefix(written) != value)
            __builtin_trap();
    }
    return 0;
}

// libFuzzer target: ExpandPath on an arbitrary name and base (tokens, "../" climbs, extensions).
#include <cstddef>
#include <cstdint>

#include "framework/spz1_paths.h"
#include "fuzz_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool initialised = [] {
        parvula::framework::FrameworkInitialise(false);
        return true;
    }();
    (void)initialised;
    const QStringList args = parvula::fuzz::TextArguments(data, size, 2);
    const QString path = parvula::framework::ExpandPath(args[0], args[1]);
    // An absolute name stays as it is, whatever the base.
    if (args[0].startsWith(u'/') && path != args[0])
        __builtin_trap();
    return 0;
}

// Where an executable keeps the time it was linked: a value of its version record that the
// build fills in after linking, so copying or installing the file never changes it.
#pragma once

#include <string_view>

namespace parvula::platform {

inline constexpr std::string_view kBuildTimeKey = "BuildTime";
// The value's room: blanks until the build writes the seconds since 1970 (UTC) into it. Readers
// trim blanks, so an executable the build never stamped reads as having no build time.
inline constexpr std::string_view kBuildTimeUnset = "                    ";

} // namespace parvula::platform

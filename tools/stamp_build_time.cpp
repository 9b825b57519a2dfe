// Writes the link time into the version record of a freshly linked executable: the seconds since
// 1970 of SOURCE_DATE_EPOCH when it is set (reproducible builds), else of now.
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "platform/platform_buildstamp.h"

using parvula::platform::kBuildTimeKey;
using parvula::platform::kBuildTimeUnset;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: stamp_build_time EXECUTABLE\n";
        return 2;
    }
    std::string seconds;
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        seconds = epoch;
        if (seconds.find_first_not_of("0123456789") != std::string::npos) {
            std::cerr << "stamp_build_time: SOURCE_DATE_EPOCH is not a number of seconds\n";
            return 1;
        }
    } else {
        seconds = std::to_string(static_cast<long long>(std::time(nullptr)));
    }
    if (seconds.size() > kBuildTimeUnset.size()) {
        std::cerr << "stamp_build_time: the time does not fit\n";
        return 1;
    }

    std::fstream file(argv[1], std::ios::in | std::ios::out | std::ios::binary);
    if (!file) {
        std::cerr << "stamp_build_time: cannot open " << argv[1] << "\n";
        return 1;
    }
    const std::string bytes(
        (std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // Key, NUL, the blank room, NUL: as the record lays out one pair.
    std::string pattern(kBuildTimeKey);
    pattern += '\0';
    const std::size_t roomAt = pattern.size();
    pattern += kBuildTimeUnset;
    pattern += '\0';
    std::string value = seconds;
    value.resize(kBuildTimeUnset.size(), ' ');

    for (std::size_t at = bytes.find(pattern); at != std::string::npos;
         at = bytes.find(pattern, at + 1)) {
        file.seekp(static_cast<std::streamoff>(at + roomAt));
        file.write(value.data(), static_cast<std::streamsize>(value.size()));
    }
    file.flush();
    if (!file) {
        std::cerr << "stamp_build_time: cannot write " << argv[1] << "\n";
        return 1;
    }
    // A program that links no version record has nothing to stamp; that is not an error.
    return 0;
}

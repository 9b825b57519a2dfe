// Splits a fuzzer input into text arguments: parts separated by a zero byte, each read as UTF-8
// (invalid sequences become replacement characters, as they would from a file name or a setting).
#pragma once

#include <cstddef>
#include <cstdint>

#include <QString>
#include <QStringList>

namespace parvula::fuzz {

inline QStringList TextArguments(const std::uint8_t* data, std::size_t size, int count)
{
    QStringList parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size && parts.size() < count - 1; ++i) {
        if (i == size || data[i] == 0) {
            parts << QString::fromUtf8(
                reinterpret_cast<const char*>(data + start), static_cast<qsizetype>(i - start));
            start = i + 1;
        }
    }
    if (parts.size() < count)
        parts << (start < size ? QString::fromUtf8(reinterpret_cast<const char*>(data + start),
                      static_cast<qsizetype>(size - start))
                               : QString());
    while (parts.size() < count)
        parts << QString();
    return parts;
}

} // namespace parvula::fuzz

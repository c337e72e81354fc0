#pragma once

#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QString>

// A property that must hold for every input. On failure the message is printed and the process aborts, so
// libFuzzer saves the input as a crash artifact.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            FuzzSupport::fail(#condition, __FILE__, __LINE__);                                                         \
    } while (false)

namespace FuzzSupport {

[[noreturn]] void fail(const char* condition, const char* file, int line);

QByteArray bytes(const std::uint8_t* data, std::size_t size);

// Text from raw input: an odd first byte reads the rest as UTF-16 code units (so lone surrogates occur), an even
// one as UTF-8. Seeds begin with "8" and UTF-8 text, or with "1" and UTF-16 (little-endian) units.
QString text(const std::uint8_t* data, std::size_t size);

} // namespace FuzzSupport

#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace FuzzSupport {

void fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "property failed: %s (%s:%d)\n", condition, file, line);
    std::abort();
}

QByteArray bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(size));
}

QString text(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return QString();
    if (data[0] % 2 == 0)
        return QString::fromUtf8(reinterpret_cast<const char*>(data + 1), int(size - 1));
    std::vector<char16_t> units((size - 1) / 2);
    if (!units.empty())
        std::memcpy(units.data(), data + 1, units.size() * sizeof(char16_t));
    return QString::fromUtf16(units.data(), int(units.size()));
}

} // namespace FuzzSupport

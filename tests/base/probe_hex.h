// Bytes as lower-case hexadecimal: how base_probe.exe and the tests that run
// it exchange binary data in their "key=value" lines.
#pragma once
#include <cstddef>
#include <string>

namespace probe {

inline std::string Hex(const void* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}
inline std::string Hex(const std::string& bytes) { return Hex(bytes.data(), bytes.size()); }

}  // namespace probe

// Manifest bytes (and settings records) laid out by hand, field by field, the
// way an installer writes them, independently of the records that cvpack and
// the readers share, so that both are tested against the raw format.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace cvtest {

class ManifestBytes {
public:
    // The header: the four fields at their fixed widths (in characters).
    ManifestBytes& Header(const std::wstring& key, const std::wstring& name, const std::wstring& startMenu,
                          const std::wstring& installDir)
    {
        return Field(key, 100).Field(name, 50).Field(startMenu, 30).Field(installDir, 200);
    }
    // A file or shortcut entry: the isFile flag and a 260-character path.
    ManifestBytes& Entry(int32_t isFile, const std::wstring& path) { return Int(isFile).Field(path, 260); }
    // A 32-bit little-endian integer: a count or a flag.
    ManifestBytes& Int(int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i) bytes_ += static_cast<char>((u >> (8 * i)) & 0xFF);
        return *this;
    }
    // UTF-16LE text filled with NULs to `width` characters; text of `width`
    // characters or more fills the field with no terminator.
    ManifestBytes& Field(const std::wstring& text, size_t width)
    {
        for (size_t i = 0; i < width; ++i) {
            const wchar_t c = i < text.size() ? text[i] : L'\0';
            bytes_ += static_cast<char>(c & 0xFF);
            bytes_ += static_cast<char>((c >> 8) & 0xFF);
        }
        return *this;
    }
    ManifestBytes& Zeros(size_t n)
    {
        bytes_.append(n, '\0');
        return *this;
    }
    // Drops the last `dropBytes` bytes, for files that end early.
    ManifestBytes& Cut(size_t dropBytes)
    {
        bytes_.resize(bytes_.size() - dropBytes);
        return *this;
    }
    const std::string& str() const { return bytes_; }

private:
    std::string bytes_;
};

}  // namespace cvtest

// Builds manifest bytes by hand, field by field, the way an installer lays
// them out, so that the readers are tested against the raw format.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

class ManifestBytes {
public:
    // Header: the four fields at their fixed widths (in characters).
    ManifestBytes& Header(const std::wstring& key, const std::wstring& name, const std::wstring& startMenu,
                          const std::wstring& installDir)
    {
        Field(key, 100);
        Field(name, 50);
        Field(startMenu, 30);
        Field(installDir, 200);
        return *this;
    }
    ManifestBytes& Count(int32_t n)
    {
        bytes_.append(reinterpret_cast<const char*>(&n), 4);
        return *this;
    }
    ManifestBytes& Entry(int32_t isFile, const std::wstring& path)
    {
        Count(isFile);
        Field(path, 260);
        return *this;
    }
    // A field filled to its full width with no terminator.
    ManifestBytes& Field(const std::wstring& text, size_t width)
    {
        std::wstring w = text;
        w.resize(width, L'\0');
        bytes_.append(reinterpret_cast<const char*>(w.data()), width * 2);
        return *this;
    }
    ManifestBytes& Cut(size_t dropBytes)
    {
        bytes_.resize(bytes_.size() - dropBytes);
        return *this;
    }
    const std::string& str() const { return bytes_; }

private:
    std::string bytes_;
};

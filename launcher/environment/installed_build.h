// Which build an application executable holds: the first two numbers of its file version, as
// the update check reads them, and only for a whole program image. An installer that failed
// part way can leave an executable cut short; its size alone says nothing.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

struct BuildVersion {
    uint16_t major = 0;
    uint16_t minor = 0;
    auto operator<=>(const BuildVersion&) const = default;
};

// The build the executable at `path` holds; none when it is missing, cut short or its version
// cannot be read.
std::optional<BuildVersion> ReadBuild(const std::wstring& path);

// Whether a PE file of `fileSize` bytes holds every section (and any signature) its headers
// name. `headers` are the file's first bytes, at least up to the end of its section table.
bool IsImageComplete(const unsigned char* headers, size_t headerSize, int64_t fileSize);

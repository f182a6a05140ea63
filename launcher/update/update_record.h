// Everything the launcher learns about the installed application and the offered build.
// Plain C++ (no Windows headers) so that the reply parsing builds and is fuzzed natively.
#pragma once

#include <cstdint>
#include <string>

// The values of the update service's reply, kept exactly as extracted.
struct UpdateInfo {
    int32_t ReturnCode = 0;
    std::wstring LatestSKU;
    std::wstring LatestVersion;
    int32_t UpdateAvailable = 0;
    std::wstring ServerPath;
    std::wstring FileName;
    std::wstring MD5;
    std::wstring FileSize;

    // The installer's address: ServerPath immediately followed by FileName, nothing repaired.
    std::wstring GetDownloadLink() const { return ServerPath + FileName; }
};

struct UpdateRecord {
    uint16_t localMajor = 0;
    uint16_t localMinor = 0;
    UpdateInfo info;
    // Declared last so that it is released before `info`.
    std::wstring replyText;
};

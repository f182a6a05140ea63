#include "environment/installed_build.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/unique_resource.h"
#include "environment/locations.h"

namespace {

// Headers and section table of any real program fit well within this.
constexpr DWORD kHeaderBytes = 64 * 1024;

template <typename T>
bool ReadAt(const unsigned char* bytes, size_t size, size_t offset, T& value)
{
    if (offset > size || size - offset < sizeof(T))
        return false;
    std::memcpy(&value, bytes + offset, sizeof(T));
    return true;
}

// The end of the certificate table, which Authenticode appends after the sections.
bool SignatureEnd(const unsigned char* headers, size_t size, size_t optionalOffset, WORD magic,
                  uint64_t& end)
{
    const size_t directories = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
        ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
        : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    const size_t countOffset = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
        ? offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes)
        : offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
    DWORD count = 0;
    IMAGE_DATA_DIRECTORY security = {};
    if (!ReadAt(headers, size, optionalOffset + countOffset, count))
        return false;
    end = 0;
    if (count > IMAGE_DIRECTORY_ENTRY_SECURITY &&
        ReadAt(headers, size,
               optionalOffset + directories +
                   IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY),
               security))
        end = uint64_t(security.VirtualAddress) + security.Size;  // a file offset here
    return true;
}

}  // namespace

bool IsImageComplete(const unsigned char* headers, size_t size, int64_t fileSize)
{
    IMAGE_DOS_HEADER dos = {};
    if (!ReadAt(headers, size, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0)
        return false;
    const size_t nt = static_cast<size_t>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER file = {};
    WORD magic = 0;
    const size_t optionalOffset = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    if (!ReadAt(headers, size, nt, signature) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(headers, size, nt + sizeof(DWORD), file) ||
        !ReadAt(headers, size, optionalOffset, magic))
        return false;
    uint64_t end = 0;
    if (!SignatureEnd(headers, size, optionalOffset, magic, end))
        return false;
    const size_t sections = optionalOffset + file.SizeOfOptionalHeader;
    for (WORD i = 0; i < file.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section = {};
        if (!ReadAt(headers, size, sections + i * sizeof section, section))
            return false;
        end = std::max(end, uint64_t(section.PointerToRawData) + section.SizeOfRawData);
    }
    return fileSize >= 0 && end <= static_cast<uint64_t>(fileSize);
}

std::optional<BuildVersion> ReadBuild(const std::wstring& path)
{
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.Get(), &size))
        return std::nullopt;
    std::vector<unsigned char> headers(kHeaderBytes);
    DWORD read = 0;
    if (!ReadFile(file.Get(), headers.data(), kHeaderBytes, &read, nullptr) ||
        !IsImageComplete(headers.data(), read, size.QuadPart))
        return std::nullopt;
    BuildVersion build;
    if (!GetFileVersion(path.c_str(), build.major, build.minor))
        return std::nullopt;
    return build;
}

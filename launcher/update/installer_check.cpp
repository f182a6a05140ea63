#include "update/installer_check.h"

#include <memory>

#include "base/unique_resource.h"
#include "environment/busy_file.h"
#include "environment/directory_removal.h"
#include "log/log_file.h"
#include "update/md5_digest.h"
#include "update/update_reply.h"

namespace {

constexpr DWORD kHashChunk = 64 * 1024;
constexpr DWORD kMaxRecordChars = 4096;

// The MD5 of everything the handle reads from its start; empty when a read fails.
std::wstring HashThrough(HANDLE file)
{
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return std::wstring();
    Md5Digest digest;
    const auto buffer = std::make_unique<char[]>(kHashChunk);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.get(), kHashChunk, &read, nullptr))
            return std::wstring();
        if (read == 0)
            return digest.Finish();
        digest.Update(buffer.get(), read);
    }
}

}  // namespace

InstallerCheck CheckInstaller(const std::wstring& path, int64_t size, const std::wstring& md5,
                              HeldInstaller& held)
{
    held.Release();
    const DWORD error = RetryWhileBusy(
        L"setup open", [&] { return held.Open(path) ? DWORD{0} : GetLastError(); });
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return InstallerCheck::Absent;
    if (error != 0) {
        WriteLog(GetLogFile(), L"setup open error, code: %d", error);
        return InstallerCheck::Refused;
    }
    LARGE_INTEGER measured = {};
    if (!GetFileSizeEx(held.get(), &measured) || measured.QuadPart != size ||
        (IsCheckableMd5(md5) && lstrcmpiW(HashThrough(held.get()).c_str(), md5.c_str()) != 0)) {
        held.Release();
        return InstallerCheck::Differs;
    }
    return AcceptInstaller(path, held) ? InstallerCheck::Checked : InstallerCheck::Refused;
}

std::optional<AttemptRecord> ReadAttemptRecord(const std::wstring& path)
{
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    // One character more than a record may hold: a longer file is no record.
    std::wstring text(kMaxRecordChars + 1, L'\0');
    DWORD read = 0;
    if (!file ||
        !ReadFile(file.Get(), &text[0], (kMaxRecordChars + 1) * sizeof(wchar_t), &read,
                  nullptr) ||
        read > kMaxRecordChars * sizeof(wchar_t))
        return std::nullopt;
    text.resize(read / sizeof(wchar_t));
    AttemptRecord record;
    if (!ParseAttemptRecord(text, record))
        return std::nullopt;
    return record;
}

bool WriteAttemptRecord(const std::wstring& path, const AttemptRecord& record)
{
    if (!ClearLinkAt(path))
        return false;
    const std::wstring text = FormatAttemptRecord(record);
    const DWORD bytes = static_cast<DWORD>(text.size()) * static_cast<DWORD>(sizeof(wchar_t));
    const UniqueHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), text.data(), bytes, &written, nullptr) &&
           written == bytes;
}

void RemoveAttemptRecord(const std::wstring& path)
{
    if (ClearLinkAt(path))
        DeleteFileW(path.c_str());
}

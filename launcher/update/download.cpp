#include "update/download.h"

#include <cstdio>
#include <memory>

#include "environment/locations.h"
#include "log/log_file.h"
#include "update/md5_digest.h"
#include "update/update_reply.h"
#include "update/url_request.h"

namespace {

constexpr DWORD kPauseAfterFailureMs = 1000;
// A download fails when no byte arrives for this long; a slow but steady link still finishes.
constexpr DWORD kSilenceLimitMs = 60000;

class OutputFile {
public:
    explicit OutputFile(const std::wstring& path) : m_file(_wfopen(path.c_str(), L"wb")) {}
    ~OutputFile() { Close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    FILE* get() const { return m_file; }
    void Close()
    {
        if (m_file) {
            fclose(m_file);
            m_file = nullptr;
        }
    }

private:
    FILE* m_file;
};

enum class Outcome { Success, Failed, GiveUp };

Outcome Transfer(InternetHandles& handles, const std::wstring& url, OutputFile& output,
                 const std::wstring& destination, int64_t expectedSize,
                 const std::wstring& expectedMd5, const DownloadProgress& onProgress)
{
    const internet::RequestRules rules{kSilenceLimitMs, false};
    switch (internet::OpenUrlRequest(handles, url.c_str(), rules)) {
    case internet::OpenOutcome::Opened:
        break;
    case internet::OpenOutcome::Failed:
        return Outcome::Failed;
    case internet::OpenOutcome::Cancelled:
        return Outcome::GiveUp;
    }

    // The announced length must match before a single byte is written.
    wchar_t lengthText[100];
    internet::QueryContentLength(handles.Request(), lengthText);
    if (ParseDecimal64(lengthText) != expectedSize) {
        WriteLog(GetLogFile(), L"length error: server setting size:  %s, actual size:  %I64d",
                 lengthText, expectedSize);
        return Outcome::Failed;
    }

    fseek(output.get(), 0, SEEK_SET);
    const bool checkMd5 = IsCheckableMd5(expectedMd5);
    Md5Digest digest;
    auto buffer = std::make_unique<char[]>(internet::kReadBufferSize);
    int64_t total = 0;
    int32_t published = 0;
    for (;;) {
        ZeroMemory(buffer.get(), internet::kReadBufferSize);
        DWORD read = 0;
        // A failed read (a stalled server included) is logged; the size check below decides.
        if (internet::ReadChunk(handles.Request(), buffer.get(), internet::kReadRequestSize, read,
                                kSilenceLimitMs) != internet::ReadOutcome::Data)
            break;
        // A short write (a full disk) shows in the size check below.
        fwrite(buffer.get(), 1, read, output.get());
        if (checkMd5)
            digest.Update(buffer.get(), read);
        total += read;
        const int32_t percentage = DownloadPercentage(total, expectedSize);
        if (percentage >= 0 && percentage != published) {
            published = percentage;
            if (onProgress)
                onProgress(percentage);
        }
    }
    output.Close();

    const int64_t measured = MeasureFileSize(destination);
    if (measured != expectedSize) {
        WriteLog(GetLogFile(), L"Download size(%I64d) not equal to server size(%I64d) ", measured,
                 expectedSize);
        return Outcome::Failed;
    }
    if (checkMd5) {
        const std::wstring actual = digest.Finish();
        if (actual.empty() || lstrcmpiW(actual.c_str(), expectedMd5.c_str()) != 0) {
            WriteLog(GetLogFile(), L"Download MD5(%s) not equal to server MD5(%s)",
                     actual.c_str(), expectedMd5.c_str());
            return Outcome::Failed;
        }
    }
    return Outcome::Success;
}

}  // namespace

int32_t DownloadPercentage(int64_t total, int64_t expected)
{
    if (expected == 0)
        return -1;
    return static_cast<int32_t>(static_cast<uint64_t>(total) * 100u /
                                static_cast<uint64_t>(expected));
}

bool DownloadFile(InternetHandles& handles, const std::wstring& url,
                  const std::wstring& destination, int64_t expectedSize,
                  const DownloadProgress& onProgress, const std::wstring& expectedMd5)
{
    WriteLog(GetLogFile(), L"download: %s to %s", url.c_str(), destination.c_str());
    handles.Close();

    OutputFile output(destination);
    if (!output.get()) {
        WriteLog(GetLogFile(), L"file open fail: %s", destination.c_str());
        return false;
    }

    Outcome outcome;
    try {
        outcome = Transfer(handles, url, output, destination, expectedSize, expectedMd5,
                           onProgress);
    } catch (...) {
        WriteLog(GetLogFile(), L"Download error %d", GetLastError());
        outcome = Outcome::Failed;
    }
    output.Close();
    if (outcome == Outcome::Failed)
        Sleep(kPauseAfterFailureMs);
    handles.Close();
    return outcome == Outcome::Success;
}

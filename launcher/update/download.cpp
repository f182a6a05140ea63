#include "update/download.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/unique_resource.h"
#include "environment/busy_file.h"
#include "environment/directory_removal.h"
#include "environment/locations.h"
#include "log/log_file.h"
#include "update/download_resume.h"
#include "update/md5_digest.h"
#include "update/update_reply.h"
#include "update/url_request.h"

namespace {

constexpr DWORD kPauseAfterFailureMs = 1000;
// A download fails when no byte arrives for this long; a slow but steady link still finishes.
constexpr DWORD kSilenceLimitMs = 60000;
// The record promises the part at most so many bytes ahead, so it is rewritten once per step
// rather than once per chunk.
constexpr int64_t kRecordStep = 1 << 20;
constexpr DWORD kMaxRecordChars = 4096;

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Open(const std::wstring& path, const wchar_t* mode)
    {
        Close();
        m_file = _wfopen(path.c_str(), mode);
        return m_file != nullptr;
    }
    FILE* get() const { return m_file; }
    void Close()
    {
        if (m_file) {
            fclose(m_file);
            m_file = nullptr;
        }
    }

private:
    FILE* m_file = nullptr;
};

bool ReadRecord(const std::wstring& path, ResumeRecord& record)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    std::wstring text(kMaxRecordChars, L'\0');
    DWORD read = 0;
    if (!file || !ReadFile(file.Get(), &text[0], kMaxRecordChars * sizeof(wchar_t), &read, nullptr))
        return false;
    text.resize(read / sizeof(wchar_t));
    return ParseResumeRecord(text, record);
}

// A record that fails to be written whole no longer parses, which only costs a resume.
void WriteRecord(const std::wstring& path, const ResumeRecord& record)
{
    const std::wstring text = FormatResumeRecord(record);
    UniqueHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file)
        WriteFile(file.Get(), text.data(),
                  static_cast<DWORD>(text.size()) * static_cast<DWORD>(sizeof(wchar_t)), &written,
                  nullptr);
}

enum class Outcome { Success, Failed, GiveUp };

// One call's transfer into the part beside the destination.
class PartDownload {
public:
    PartDownload(const std::wstring& url, const std::wstring& destination, int64_t size,
                 const std::wstring& md5, const DownloadProgress& onProgress)
        : m_url(url), m_destination(destination), m_part(destination + L".part"),
          m_recordPath(destination + L".resume"), m_size(size), m_md5(md5),
          m_checkMd5(IsCheckableMd5(md5)), m_onProgress(onProgress),
          m_buffer(std::make_unique<char[]>(internet::kReadBufferSize))
    {
    }

    const std::wstring& PartPath() const { return m_part; }
    int64_t Start() const { return m_start; }
    int64_t Kept() const { return m_kept; }

    // Decides where to start and opens the part; false when it can't be opened.
    bool Prepare()
    {
        // Written here, a link's target would receive the installer.
        if (!ClearLinkAt(m_part) || !ClearLinkAt(m_recordPath))
            return false;
        ResumeRecord record;
        const bool recorded = ReadRecord(m_recordPath, record);
        const int64_t partSize = MeasureFileSize(m_part);
        if (TakeVerifiedPart(partSize))
            return true;
        m_start = ResumeStart(recorded ? &record : nullptr, m_url, m_size, m_md5, partSize);
        if (m_start > 0) {
            m_record = record;
            m_resumable = true;
            if (m_output.Open(m_part, L"r+b") && HashPart())
                return true;
        } else if (partSize > 0) {
            WriteLog(GetLogFile(), L"download resume: part not usable, from 0 of %I64d bytes",
                     m_size);
        }
        return StartAgain();
    }

    Outcome Run(InternetHandles& handles)
    {
        if (m_verified)
            return PutInPlace();
        bool opened = false;
        if (m_start > 0) {
            const Outcome resumed = AskForRest(handles, opened);
            if (resumed != Outcome::Success)
                return resumed;
        }
        if (!opened) {
            const internet::RequestRules rules{kSilenceLimitMs, false};
            switch (internet::OpenUrlRequest(handles, m_url.c_str(), rules)) {
            case internet::OpenOutcome::Opened:
                break;
            case internet::OpenOutcome::Failed:
                return Outcome::Failed;
            case internet::OpenOutcome::Cancelled:
                return Outcome::GiveUp;
            }
        }
        if (m_start == 0) {
            // The announced length must match before a single byte is written.
            wchar_t lengthText[100];
            internet::QueryContentLength(handles.Request(), lengthText);
            if (ParseDecimal64(lengthText) != m_size) {
                WriteLog(GetLogFile(),
                         L"length error: server setting size:  %s, actual size:  %I64d",
                         lengthText, m_size);
                return Outcome::Failed;
            }
            m_record = ResumeRecord{m_url, m_size, m_md5,
                                    ChooseValidator(
                                        internet::QueryHeader(handles.Request(), HTTP_QUERY_ETAG),
                                        internet::QueryHeader(handles.Request(),
                                                              HTTP_QUERY_LAST_MODIFIED)),
                                    0};
        }
        return Receive(handles.Request());
    }

    // What is left when the call ends: a part worth resuming, or nothing.
    void Finish(Outcome outcome)
    {
        m_output.Close();
        if (outcome != Outcome::Success && m_verified) {
            // Whole and checked, only not yet in place: never downloaded again for that.
            DeleteFileW(m_recordPath.c_str());
            m_kept = m_size;
            return;
        }
        if (outcome == Outcome::Success || !m_resumable) {
            m_kept = 0;
            if (outcome != Outcome::Success)
                DeleteFileW(m_part.c_str());
            DeleteFileW(m_recordPath.c_str());
            return;
        }
        m_kept = (std::max)(MeasureFileSize(m_part), int64_t{0});
    }

private:
    // The range request. Success with `opened` set: the reply continues the part; success
    // without: start again with a plain request.
    Outcome AskForRest(InternetHandles& handles, bool& opened)
    {
        WriteLog(GetLogFile(), L"download resume: from %I64d of %I64d bytes", m_start, m_size);
        Publish(m_start);
        const std::wstring headers = RangeRequestHeaders(m_start, m_record.validator);
        const internet::RequestRules rules{kSilenceLimitMs, false, headers.c_str(), true};
        const internet::OpenOutcome outcome =
            internet::OpenUrlRequest(handles, m_url.c_str(), rules);
        if (outcome == internet::OpenOutcome::Cancelled)
            return Outcome::GiveUp;
        const int64_t status =
            ParseDecimal64(internet::QueryHeader(handles.Request(), HTTP_QUERY_STATUS_CODE));
        const RangeReply reply = JudgeRangeReply(
            static_cast<unsigned long>(status),
            internet::QueryHeader(handles.Request(), HTTP_QUERY_CONTENT_RANGE),
            internet::QueryHeader(handles.Request(), HTTP_QUERY_CONTENT_LENGTH), m_start, m_size);
        // No fitting answer (a cut connection, a silent server, an error status, too many
        // redirects): the part waits for the next try.
        if (reply == RangeReply::Failed ||
            (outcome == internet::OpenOutcome::Failed && reply != RangeReply::Refused))
            return Outcome::Failed;
        if (reply == RangeReply::Resumed) {
            opened = true;
            return Outcome::Success;
        }
        WriteLog(GetLogFile(), L"download resume: refused, status: %d", static_cast<int>(status));
        if (!StartAgain())
            return Outcome::Failed;
        Publish(0);
        // A 200 carries the whole file; anything else is asked again without a range.
        opened = reply == RangeReply::Whole;
        if (!opened)
            handles.Close();
        return Outcome::Success;
    }

    // Drops the part and its record and opens an empty part.
    bool StartAgain()
    {
        m_start = 0;
        m_resumable = false;
        m_digest.reset();
        DeleteFileW(m_recordPath.c_str());
        if (!m_output.Open(m_part, L"wb"))
            return false;
        if (m_checkMd5)
            m_digest = std::make_unique<Md5Digest>();
        return true;
    }

    // The MD5 covers the whole file: the part on disk first.
    bool HashPart()
    {
        if (!m_checkMd5)
            return true;
        m_digest = std::make_unique<Md5Digest>();
        int64_t left = m_start;
        while (left > 0) {
            const size_t want = static_cast<size_t>(
                (std::min)(left, static_cast<int64_t>(internet::kReadRequestSize)));
            const size_t got = fread(m_buffer.get(), 1, want, m_output.get());
            if (got != want)
                return false;
            m_digest->Update(m_buffer.get(), static_cast<DWORD>(got));
            left -= static_cast<int64_t>(got);
        }
        return true;
    }

    void Publish(int64_t total)
    {
        const int32_t percentage = DownloadPercentage(total, m_size);
        if (percentage >= 0 && percentage != m_published) {
            m_published = percentage;
            if (m_onProgress)
                m_onProgress(percentage);
        }
    }

    Outcome Receive(HINTERNET request)
    {
        m_record.written = m_start;
        WriteRecord(m_recordPath, m_record);
        m_resumable = true;
        _fseeki64(m_output.get(), m_start, SEEK_SET);
        int64_t total = m_start;
        for (;;) {
            ZeroMemory(m_buffer.get(), internet::kReadBufferSize);
            DWORD read = 0;
            // A failed read (a stalled server included) is logged; the size check below decides.
            if (internet::ReadChunk(request, m_buffer.get(), internet::kReadRequestSize, read,
                                    kSilenceLimitMs) != internet::ReadOutcome::Data)
                break;
            // The record never claims less than the part holds.
            if (total + read > m_record.written) {
                m_record.written = (std::min)(m_size, total + read + kRecordStep);
                WriteRecord(m_recordPath, m_record);
            }
            // A short write (a full disk) shows in the size check below; what follows it would
            // land at the wrong place, so the part is not resumed.
            if (fwrite(m_buffer.get(), 1, read, m_output.get()) != read) {
                m_resumable = false;
                break;
            }
            if (m_digest)
                m_digest->Update(m_buffer.get(), read);
            total += read;
            Publish(total);
        }
        m_output.Close();

        const int64_t measured = MeasureFileSize(m_part);
        if (measured != m_size) {
            WriteLog(GetLogFile(), L"Download size(%I64d) not equal to server size(%I64d) ",
                     measured, m_size);
            return Outcome::Failed;
        }
        // From here on the part is whole: it is either the installer or worthless.
        m_resumable = false;
        if (m_checkMd5) {
            const std::wstring actual = m_digest ? m_digest->Finish() : std::wstring();
            if (actual.empty() || lstrcmpiW(actual.c_str(), m_md5.c_str()) != 0) {
                WriteLog(GetLogFile(), L"Download MD5(%s) not equal to server MD5(%s)",
                         actual.c_str(), m_md5.c_str());
                return Outcome::Failed;
            }
        }
        m_verified = m_checkMd5;
        return PutInPlace();
    }

    Outcome PutInPlace()
    {
        const DWORD error = ReplaceFileWhenFree(m_part, m_destination);
        if (error != 0) {
            WriteLog(GetLogFile(), L"file replace fail: %s, code: %d", m_destination.c_str(),
                     error);
            return Outcome::Failed;
        }
        return Outcome::Success;
    }

    // A whole part whose MD5 is the offer's: an earlier try checked it but could not put it in
    // place. Used as it is, without a request.
    bool TakeVerifiedPart(int64_t partSize)
    {
        if (!m_checkMd5 || partSize != m_size)
            return false;
        m_start = m_size;
        const bool same = m_output.Open(m_part, L"rb") && HashPart() &&
                          lstrcmpiW(m_digest->Finish().c_str(), m_md5.c_str()) == 0;
        m_output.Close();
        m_digest.reset();
        m_start = 0;
        if (!same)
            return false;
        WriteLog(GetLogFile(), L"download: part already whole and checked, %I64d bytes", m_size);
        m_start = m_size;
        m_verified = true;
        return true;
    }

    const std::wstring m_url;
    const std::wstring m_destination;
    const std::wstring m_part;
    const std::wstring m_recordPath;
    const int64_t m_size;
    const std::wstring m_md5;
    const bool m_checkMd5;
    const DownloadProgress& m_onProgress;
    std::unique_ptr<char[]> m_buffer;
    OutputFile m_output;
    std::unique_ptr<Md5Digest> m_digest;
    ResumeRecord m_record;
    int64_t m_start = 0;
    int64_t m_kept = 0;
    int32_t m_published = 0;
    bool m_resumable = false;
    bool m_verified = false;  // the part is the whole installer, its MD5 checked
};

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
                  const DownloadProgress& onProgress, const std::wstring& expectedMd5,
                  DownloadReport* report)
{
    WriteLog(GetLogFile(), L"download: %s to %s", url.c_str(), destination.c_str());
    handles.Close();

    std::unique_ptr<PartDownload> download;
    Outcome outcome = Outcome::Failed;
    try {
        download = std::make_unique<PartDownload>(url, destination, expectedSize, expectedMd5,
                                                  onProgress);
        if (!download->Prepare()) {
            WriteLog(GetLogFile(), L"file open fail: %s", download->PartPath().c_str());
            return false;
        }
        outcome = download->Run(handles);
    } catch (...) {
        WriteLog(GetLogFile(), L"Download error %d", GetLastError());
        outcome = Outcome::Failed;
    }
    if (download) {
        download->Finish(outcome);
        if (report) {
            report->partBefore = download->Start();
            report->partAfter = download->Kept();
            report->percentageAfter =
                (std::max)(DownloadPercentage(download->Kept(), expectedSize), 0);
        }
    }
    if (outcome == Outcome::Failed)
        Sleep(kPauseAfterFailureMs);
    handles.Close();
    return outcome == Outcome::Success;
}

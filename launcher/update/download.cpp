#include "update/download.h"

#include <algorithm>
#include <memory>

#include "base/unique_resource.h"
#include "environment/busy_file.h"
#include "environment/directory_removal.h"
#include "environment/locations.h"
#include "log/log_file.h"
#include "log/log_line.h"
#include "update/background_digest.h"
#include "update/download_resume.h"
#include "update/md5_digest.h"
#include "update/update_reply.h"
#include "update/url_request.h"

namespace {

using internet::Outcome;

constexpr DWORD kPauseAfterFailureMs = 1000;
// A download fails when no byte arrives for this long; a slow but steady link still finishes.
constexpr DWORD kSilenceLimitMs = 60000;
// ...and when the reply's status line and headers are not in this long after the attempt began.
constexpr DWORD kReplyLimitMs = 60000;
constexpr DWORD kMaxRecordChars = 4096;

// The part beside the destination and its resume record, which say together how far an
// earlier attempt got and for which offer.
class PartFile {
public:
    PartFile(const std::wstring& path, const std::wstring& recordPath)
        : m_path(path), m_recordPath(recordPath)
    {
    }

    int64_t Size() const { return MeasureFileSize(m_path); }

    bool ReadRecord(ResumeRecord& record) const
    {
        const UniqueHandle file(CreateFileW(m_recordPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
        std::wstring text(kMaxRecordChars, L'\0');
        DWORD read = 0;
        if (!file ||
            !ReadFile(file.Get(), &text[0], kMaxRecordChars * sizeof(wchar_t), &read, nullptr))
            return false;
        text.resize(read / sizeof(wchar_t));
        return ParseResumeRecord(text, record);
    }

    // A record that fails to be written whole no longer parses, which only costs a resume.
    void WriteRecord(const ResumeRecord& record) const
    {
        const std::wstring text = FormatResumeRecord(record);
        const UniqueHandle file(CreateFileW(m_recordPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (file)
            WriteFile(file.Get(), text.data(),
                      static_cast<DWORD>(text.size()) * static_cast<DWORD>(sizeof(wchar_t)),
                      &written, nullptr);
    }

    void DropRecord() const { DeleteFileW(m_recordPath.c_str()); }

    // Written through, a link at either name would hand the installer to its target.
    bool ClearLinks() const { return ClearLinkAt(m_path) && ClearLinkAt(m_recordPath); }

    // The part as it is (`keep`), or emptied; open for reading and writing from its start.
    bool Open(bool keep)
    {
        // Closed first: the part is open to this handle alone.
        m_file.Reset();
        m_file.Reset(CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, keep ? OPEN_EXISTING : CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(m_file);
    }

    bool ReadExactly(void* buffer, DWORD size)
    {
        DWORD read = 0;
        return ReadFile(m_file.Get(), buffer, size, &read, nullptr) && read == size;
    }

    bool Seek(int64_t offset)
    {
        LARGE_INTEGER distance;
        distance.QuadPart = offset;
        return SetFilePointerEx(m_file.Get(), distance, nullptr, FILE_BEGIN) != FALSE;
    }

    // False on a short write (a full disk).
    bool Write(const void* data, DWORD size)
    {
        DWORD written = 0;
        return WriteFile(m_file.Get(), data, size, &written, nullptr) && written == size;
    }

    void Close() { m_file.Reset(); }

private:
    const std::wstring m_path;
    const std::wstring m_recordPath;
    UniqueHandle m_file;
};

// One call's transfer into the part beside the destination.
class PartDownload {
public:
    PartDownload(const std::wstring& url, const std::wstring& destination, int64_t size,
                 const std::wstring& md5, const DownloadProgress& onProgress)
        : m_url(url), m_destination(destination), m_part(destination + L".part"),
          m_file(m_part, destination + L".resume"), m_size(size), m_md5(md5),
          m_checkMd5(IsCheckableMd5(md5)), m_onProgress(onProgress),
          m_buffers{std::make_unique<char[]>(kLargestRead),
                    std::make_unique<char[]>(kLargestRead)}
    {
    }

    const std::wstring& PartPath() const { return m_part; }
    int64_t Before() const { return m_before; }
    int64_t Kept() const { return m_kept; }

    // Decides where to start and opens the part; false when it can't be opened.
    bool Prepare()
    {
        if (!m_file.ClearLinks())
            return false;
        ResumeRecord record;
        const bool recorded = m_file.ReadRecord(record);
        const int64_t partSize = m_file.Size();
        if (TakeVerifiedPart(partSize))
            return true;
        m_start = ResumeStart(recorded ? &record : nullptr, m_url, m_size, m_md5, partSize);
        m_before = m_start;
        if (m_start > 0) {
            m_record = record;
            m_resumable = true;
            if (m_file.Open(true) && HashPart())
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
        m_deadline = internet::StartDeadline(kReplyLimitMs);
        bool opened = false;
        if (m_start > 0) {
            const Outcome resumed = AskForRest(handles, opened);
            if (resumed != Outcome::Done)
                return resumed;
        }
        if (!opened) {
            const internet::RequestRules rules{kSilenceLimitMs, m_deadline, false};
            const Outcome outcome = internet::OpenUrlRequest(handles, m_url.c_str(), rules);
            if (outcome != Outcome::Done)
                return outcome;
            m_reply = internet::ReadReplyHeaders(handles.Request());
        }
        if (m_start == 0 && !AcceptWholeFile())
            return Outcome::Failed;
        return Receive(handles.Request());
    }

    // What is left when the call ends: a part worth resuming, or nothing.
    void Finish(Outcome outcome)
    {
        m_file.Close();
        if (outcome != Outcome::Done && m_verified) {
            // Whole and checked, only not yet in place: never downloaded again for that.
            m_file.DropRecord();
            m_kept = m_size;
            return;
        }
        if (outcome == Outcome::Done || !m_resumable) {
            m_kept = 0;
            if (outcome != Outcome::Done)
                DeleteFileW(m_part.c_str());
            m_file.DropRecord();
            return;
        }
        m_kept = (std::max)(m_file.Size(), int64_t{0});
    }

private:
    // The range request. Done with `opened` set: the reply continues the part (or, refused
    // with a 200, carries the whole file); done without: start again with a plain request.
    Outcome AskForRest(InternetHandles& handles, bool& opened)
    {
        WriteLog(GetLogFile(), L"download resume: from %I64d of %I64d bytes", m_start, m_size);
        Publish(m_start);
        const std::wstring headers = RangeRequestHeaders(m_start, m_record.validator);
        const internet::RequestRules rules{kSilenceLimitMs, m_deadline, false, headers.c_str(),
                                           true};
        const Outcome outcome = internet::OpenUrlRequest(handles, m_url.c_str(), rules);
        if (outcome == Outcome::Cancelled)
            return Outcome::Cancelled;
        m_reply = internet::ReadReplyHeaders(handles.Request());
        const RangeReply reply = JudgeRangeReply(m_reply.status, m_reply.contentRange,
                                                 m_reply.contentLength, m_start, m_size);
        // No fitting answer (a cut connection, a silent server, an error status, too many
        // redirects): the part waits for the next try.
        if (reply == RangeReply::Failed ||
            (outcome == Outcome::Failed && reply != RangeReply::Refused))
            return Outcome::Failed;
        if (reply == RangeReply::Resumed) {
            opened = true;
            return Outcome::Done;
        }
        WriteLog(GetLogFile(), L"download resume: refused, status: %d",
                 static_cast<int>(m_reply.status));
        if (!StartAgain()) {
            WriteLog(GetLogFile(), L"file open fail: %s", m_part.c_str());
            return Outcome::Failed;
        }
        Publish(0);
        // A 200 carries the whole file; anything else is asked again without a range.
        opened = reply == RangeReply::Whole;
        if (!opened)
            handles.Close();
        return Outcome::Done;
    }

    // The announced length must match before a single byte is written.
    bool AcceptWholeFile()
    {
        if (ParseDecimal64(m_reply.contentLength) != m_size) {
            WriteLog(GetLogFile(), L"length error: server setting size:  %s, actual size:  %I64d",
                     EscapeControls(m_reply.contentLength).c_str(), m_size);
            return false;
        }
        m_record = ResumeRecord{m_url, m_size, m_md5,
                                ChooseValidator(m_reply.etag, m_reply.lastModified), 0};
        return true;
    }

    // Drops the part and its record and opens an empty part.
    bool StartAgain()
    {
        m_start = 0;
        m_resumable = false;
        m_digest.reset();
        m_file.DropRecord();
        if (!m_file.Open(false))
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
            const DWORD want = static_cast<DWORD>(
                (std::min)(left, static_cast<int64_t>(kLargestRead)));
            if (!m_file.ReadExactly(m_buffers[0].get(), want))
                return false;
            m_digest->Update(m_buffers[0].get(), want);
            left -= want;
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
        m_record.written = RecordedReach(m_start, m_size);
        m_file.WriteRecord(m_record);
        m_resumable = m_file.Seek(m_start);
        int64_t total = m_start;
        const bool overran = m_resumable && ReceiveBody(request, total);
        m_file.Close();
        if (overran) {
            // Whatever the part holds, this server's file is not the one announced.
            m_resumable = false;
            WriteLog(GetLogFile(), L"Download size(%I64d) not equal to server size(%I64d) ",
                     total, m_size);
            return Outcome::Failed;
        }
        return CheckAndReplace();
    }

    // Reads the body into the part, never past the announced size. True when the server sent
    // more than that; `total` then counts what arrived.
    bool ReceiveBody(HINTERNET request, int64_t& total)
    {
        // The MD5 goes on beside the next read; the two buffers take turns.
        std::unique_ptr<BackgroundDigest> digest;
        if (m_digest)
            digest = std::make_unique<BackgroundDigest>(*m_digest);
        DWORD readSize = kSmallestRead;
        for (int turn = 0;; turn ^= 1) {
            char* const buffer = m_buffers[turn].get();
            // One byte more than the file still lacks is enough to see a server that sends more.
            const DWORD want = static_cast<DWORD>(
                (std::min)(m_size - total + 1, static_cast<int64_t>(readSize)));
            const DWORD started = GetTickCount();
            DWORD read = 0;
            // A failed read (a stalled server included) is logged; the size check decides.
            if (internet::ReadChunk(request, buffer, want, read, kSilenceLimitMs) !=
                internet::ReadOutcome::Data)
                return false;
            readSize = NextReadSize(readSize, GetTickCount() - started);
            if (read > m_size - total) {
                total += read;
                return true;
            }
            if (!Keep(buffer, read, total))
                return false;
            if (digest)
                digest->Hand(buffer, read);
            total += read;
            Publish(total);
        }
    }

    // Appends a chunk to the part, which holds `held` bytes. False on a short write (a full
    // disk): it shows in the size check, and what follows it would land at the wrong place, so
    // the part is not resumed.
    bool Keep(const char* data, DWORD size, int64_t held)
    {
        // The record never claims less than the part holds.
        if (held + size > m_record.written) {
            m_record.written = RecordedReach(held + size, m_size);
            m_file.WriteRecord(m_record);
        }
        if (!m_file.Write(data, size)) {
            m_resumable = false;
            return false;
        }
        return true;
    }

    Outcome CheckAndReplace()
    {
        const int64_t measured = m_file.Size();
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
        return Outcome::Done;
    }

    // A whole part whose MD5 is the offer's: an earlier try checked it but could not put it in
    // place. Used as it is, without a request.
    bool TakeVerifiedPart(int64_t partSize)
    {
        if (!m_checkMd5 || partSize != m_size)
            return false;
        m_start = m_size;
        const bool same = m_file.Open(true) && HashPart() &&
                          lstrcmpiW(m_digest->Finish().c_str(), m_md5.c_str()) == 0;
        m_file.Close();
        m_digest.reset();
        m_start = 0;
        if (!same)
            return false;
        WriteLog(GetLogFile(), L"download: part already whole and checked, %I64d bytes", m_size);
        // Nothing new can come of this attempt: it is no progress for the automatic resume.
        m_start = m_size;
        m_before = m_size;
        m_verified = true;
        return true;
    }

    const std::wstring m_url;
    const std::wstring m_destination;
    const std::wstring m_part;
    PartFile m_file;
    const int64_t m_size;
    const std::wstring m_md5;
    const bool m_checkMd5;
    const DownloadProgress& m_onProgress;
    std::unique_ptr<char[]> m_buffers[2];
    std::unique_ptr<Md5Digest> m_digest;
    internet::AttemptDeadline m_deadline{0, kReplyLimitMs};
    internet::ReplyHeaders m_reply;
    ResumeRecord m_record;
    int64_t m_start = 0;
    int64_t m_before = 0;
    int64_t m_kept = 0;
    int32_t m_published = 0;
    bool m_resumable = false;
    bool m_verified = false;  // the part is the whole installer, its MD5 checked
};

}  // namespace

unsigned long NextReadSize(unsigned long current, unsigned long tookMs)
{
    if (tookMs < kQuickReadMs)
        return (std::min)(current * 2, kLargestRead);
    return (std::max)(current / 2, kSmallestRead);
}

int32_t DownloadPercentage(int64_t total, int64_t expected)
{
    if (expected == 0)
        return -1;
    // Never above 100, whatever arrived.
    if (static_cast<uint64_t>(total) >= static_cast<uint64_t>(expected))
        return 100;
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
            report->partBefore = download->Before();
            report->partAfter = download->Kept();
            report->percentageAfter =
                (std::max)(DownloadPercentage(download->Kept(), expectedSize), 0);
        }
    }
    if (outcome == Outcome::Failed)
        Sleep(kPauseAfterFailureMs);
    handles.Close();
    return outcome == Outcome::Done;
}

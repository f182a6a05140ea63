// When an installer download may go on from a part left by an earlier attempt, and the small
// record kept beside that part. Decisions only: no file, network or Windows header here.
#pragma once

#include <cstdint>
#include <string>

// A transfer that ends early is resumed without asking the user this many times in a row.
inline constexpr int kMaxResumesInARow = 5;

// What a part was downloaded for, and how far it may have got.
struct ResumeRecord {
    std::wstring url;
    int64_t size = 0;        // the announced size of the whole file
    std::wstring md5;        // the announced MD5, as announced (may be empty)
    std::wstring validator;  // the ETag (or Last-Modified) of the reply that wrote the part
    int64_t written = 0;     // the part holds at most this many bytes
};

// How far the record lets the part grow once the part holds `held` bytes: twice that, and at
// least 1 MiB more, never past the whole file of `size` bytes. The record is rewritten only when
// the part is about to pass it, so a download rewrites it a few times, not once per chunk.
int64_t RecordedReach(int64_t held, int64_t size);

// The record as text: a first line naming the format, then one "name=value" line per field.
std::wstring FormatResumeRecord(const ResumeRecord& record);
// False for anything but the exact text FormatResumeRecord writes.
bool ParseResumeRecord(const std::wstring& text, ResumeRecord& record);

// Where the next request starts: the part's size when `record` is the record of this very offer
// (URL, size, MD5), the part is no longer than the record says and shorter than the whole file,
// and a changed file can be told (a validator, or an MD5 to check at the end); otherwise 0.
// `partSize` is -1 when there is no part.
int64_t ResumeStart(const ResumeRecord* record, const std::wstring& url, int64_t size,
                    const std::wstring& md5, int64_t partSize);

// The reply's validator for If-Range: a strong ETag, else Last-Modified (a weak ETag never
// matches in If-Range, so it would make every resume fetch the whole file).
std::wstring ChooseValidator(const std::wstring& etag, const std::wstring& lastModified);

// The extra request headers asking for the rest of the file from `start`.
std::wstring RangeRequestHeaders(int64_t start, const std::wstring& validator);

enum class RangeReply {
    Resumed,  // 206 with exactly the rest: append it to the part
    Whole,    // 200: the server sends the whole file (it ignored the range or the file changed)
    Refused,  // 416, or a 206 that does not fit: drop the part and ask again from 0
    Failed,   // an error status: the attempt fails like any other, and the part waits
};

// Judges the reply to a request for `start`- of a file of `size` bytes: a 206 fits only when
// Content-Range is "bytes start-(size-1)/size" and Content-Length is size - start.
RangeReply JudgeRangeReply(unsigned long status, const std::wstring& contentRange,
                           const std::wstring& contentLength, int64_t start, int64_t size);

// Whether a failed attempt is resumed at once, without the dialog: it added bytes to a part that
// is kept, and fewer than kMaxResumesInARow resumes came before it.
bool ResumeAtOnce(int64_t partBefore, int64_t partAfter, int resumesInARow);

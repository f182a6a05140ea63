// How often installing one announced build has failed in a row, kept in a small record beside
// the download folder, so that an installer that cannot succeed on this machine is not fetched
// and run at every start. Decisions only: no file or Windows header here.
#pragma once

#include <cstdint>
#include <string>

// Failed installs in a row after which a build is held back.
inline constexpr uint32_t kFailuresBeforeHoldBack = 3;
// How long it is held back after the last failure, in 100-ns units (FILETIME): 24 hours.
inline constexpr uint64_t kHoldBackTime = 24ull * 60 * 60 * 10000000;

// What identifies one announced build: a new upload under the same name changes size or MD5.
struct Announcement {
    std::wstring fileName;
    std::wstring fileSize;
    std::wstring md5;
    std::wstring version;
    bool operator==(const Announcement&) const = default;
};

struct AttemptRecord {
    Announcement build;
    uint32_t failures = 0;     // installs of `build` that failed or did not start, in a row
    uint64_t lastFailure = 0;  // when the last one ended, as a FILETIME (UTC)
};

// The record as text: a first line naming the format, then one "name=value" line per field.
std::wstring FormatAttemptRecord(const AttemptRecord& record);
// False for anything but the exact text FormatAttemptRecord writes, with a count from 1 to
// 1000000 and a time above 0: whatever else is there counts as no failures.
bool ParseAttemptRecord(const std::wstring& text, AttemptRecord& record);

// The failures in a row that count for `offered`: the record's when it is of the same build.
uint32_t FailuresFor(const AttemptRecord* record, const Announcement& offered);

// Whether `offered` is held back at `now`: kFailuresBeforeHoldBack failures in a row and the
// last one less than kHoldBackTime ago. A last failure in the future (the clock was set back)
// holds nothing back, so that a wrong clock never stops updates for good.
bool IsHeldBack(const AttemptRecord* record, const Announcement& offered, uint64_t now);

// The record after one more failure of `offered` at `now`.
AttemptRecord AfterFailure(const AttemptRecord* record, const Announcement& offered,
                           uint64_t now);

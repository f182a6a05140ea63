// Downloads the installer to a local file, reporting a rising percentage.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "update/internet_handles.h"

// Receives each new whole percentage of the whole file, rising, at most once per value; a
// resumed attempt begins with the part's percentage, and one whose resume the server refused
// goes back to 0.
using DownloadProgress = std::function<void(int32_t percentage)>;

// How far one attempt got: the usable part it found (0 when there was none) and the part it
// left for the next attempt to resume (0 when nothing is worth resuming). An attempt whose
// resume the server refused, and that got no further from 0 than the part it dropped, left no
// more than it found.
struct DownloadReport {
    int64_t partBefore = 0;
    int64_t partAfter = 0;
    int32_t percentageAfter = 0;  // the whole percentage partAfter stands for
};

// One attempt; a reply whose headers are not in 60 s after the attempt began fails it, and so does
// a body that brings no byte for 60 s. The bytes go to a part beside the destination
// ("<destination>.part", with its resume record "<destination>.resume"), which goes on from where
// an earlier attempt for the same offer stopped; nothing past `expectedSize` is written, and a
// server that sends more fails the attempt and loses the part. True only when the server announced
// exactly `expectedSize` bytes for the whole file, the part measures exactly that, (when
// `expectedMd5` is 32 hexadecimal digits) its MD5 equals it, and it then replaced the destination.
// On false the destination is as it was.
bool DownloadFile(InternetHandles& handles, const std::wstring& url,
                  const std::wstring& destination, int64_t expectedSize,
                  const DownloadProgress& onProgress,
                  const std::wstring& expectedMd5 = std::wstring(),
                  DownloadReport* report = nullptr);

// The download reads in pieces of kSmallestRead bytes at first, twice as large after each read
// that took less than kQuickReadMs (up to kLargestRead), half as large after one that took
// longer: WinINet waits for a whole piece, so a slow link keeps small pieces and a stall loses
// little, while a fast one is read in few calls.
inline constexpr unsigned long kSmallestRead = 64 * 1024;
inline constexpr unsigned long kLargestRead = 1024 * 1024;
inline constexpr unsigned long kQuickReadMs = 100;
unsigned long NextReadSize(unsigned long current, unsigned long tookMs);

// Whole percentage of `total` out of `expected`, computed as unsigned 64-bit and at most 100;
// -1 when there is no percentage to show (an expected size of 0).
int32_t DownloadPercentage(int64_t total, int64_t expected);

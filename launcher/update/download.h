// Downloads the installer to a local file, reporting a rising percentage.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "update/internet_handles.h"

// Receives each new whole percentage, rising, at most once per value.
using DownloadProgress = std::function<void(int32_t percentage)>;

// One attempt; no byte for 60 s fails it. True only when the server announced exactly `expectedSize` bytes, the written
// file measures exactly that, and (when `expectedMd5` is 32 hexadecimal digits) its MD5 equals
// it. On false the destination may hold an empty or partial file.
bool DownloadFile(InternetHandles& handles, const std::wstring& url,
                  const std::wstring& destination, int64_t expectedSize,
                  const DownloadProgress& onProgress,
                  const std::wstring& expectedMd5 = std::wstring());

// Whole percentage of `total` out of `expected`, computed as unsigned 64-bit; -1 when there is
// no percentage to show (an expected size of 0).
int32_t DownloadPercentage(int64_t total, int64_t expected);

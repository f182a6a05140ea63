// Digests the chunks of a download on a thread of its own, one at a time, while the caller
// reads and writes the next one: the hash then costs the download no time of its own.
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

#include "base/unique_resource.h"
#include "update/md5_digest.h"

class BackgroundDigest {
public:
    // Without a thread of its own (none could be started), each chunk is digested at once.
    explicit BackgroundDigest(Md5Digest& digest);
    // Waits for the chunk in hand, then ends the thread: the digest holds every chunk.
    ~BackgroundDigest();
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

    // Waits until the chunk handed over before is digested, then hands over this one, which
    // must stay as it is until the next Hand returns or the object is gone. The caller fills a
    // second buffer meanwhile.
    void Hand(const void* data, DWORD size);

private:
    void Work();
    // Every wait is for one Update of at most one chunk: CPU work, which always ends.
    void WaitIdle() const;

    Md5Digest& m_digest;
    UniqueHandle m_handed;  // a chunk (or the end) waits for the thread
    UniqueHandle m_idle;    // set while the thread holds no chunk
    const void* m_data = nullptr;
    DWORD m_size = 0;
    std::atomic<bool> m_ending{false};
    std::thread m_thread;
};

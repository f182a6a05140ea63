#include "update/background_digest.h"

#include <system_error>

BackgroundDigest::BackgroundDigest(Md5Digest& digest)
    : m_digest(digest), m_handed(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_idle(CreateEventW(nullptr, TRUE, TRUE, nullptr))
{
    if (!m_handed || !m_idle)
        return;
    try {
        m_thread = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
    }
}

BackgroundDigest::~BackgroundDigest()
{
    if (!m_thread.joinable())
        return;
    WaitIdle();
    m_ending = true;
    SetEvent(m_handed.Get());
    m_thread.join();
}

void BackgroundDigest::Hand(const void* data, DWORD size)
{
    if (!m_thread.joinable()) {
        m_digest.Update(data, size);
        return;
    }
    WaitIdle();
    m_data = data;
    m_size = size;
    ResetEvent(m_idle.Get());
    SetEvent(m_handed.Get());
}

void BackgroundDigest::Work()
{
    for (;;) {
        WaitForSingleObject(m_handed.Get(), INFINITE);
        if (m_ending)
            return;
        m_digest.Update(m_data, m_size);
        SetEvent(m_idle.Get());
    }
}

void BackgroundDigest::WaitIdle() const
{
    WaitForSingleObject(m_idle.Get(), INFINITE);
}

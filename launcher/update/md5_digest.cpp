#include "update/md5_digest.h"

Md5Digest::Md5Digest()
{
    if (!CryptAcquireContextW(&m_hProvider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        m_hProvider = 0;
        return;
    }
    if (!CryptCreateHash(m_hProvider, CALG_MD5, 0, 0, &m_hHash))
        m_hHash = 0;
}

Md5Digest::~Md5Digest()
{
    if (m_hHash)
        CryptDestroyHash(m_hHash);
    if (m_hProvider)
        CryptReleaseContext(m_hProvider, 0);
}

void Md5Digest::Update(const void* data, DWORD length)
{
    if (m_hHash && !m_failed && length > 0 &&
        !CryptHashData(m_hHash, static_cast<const BYTE*>(data), length, 0))
        m_failed = true;
}

std::wstring Md5Digest::Finish()
{
    BYTE digest[16] = {};
    DWORD length = sizeof digest;
    if (!m_hHash || m_failed || !CryptGetHashParam(m_hHash, HP_HASHVAL, digest, &length, 0) ||
        length != sizeof digest)
        return std::wstring();
    static constexpr wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text;
    for (const BYTE b : digest) {
        text += kHex[b >> 4];
        text += kHex[b & 0x0F];
    }
    return text;
}

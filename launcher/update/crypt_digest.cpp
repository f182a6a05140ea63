#include "update/crypt_digest.h"

#include <iterator>

#include "update/signer_pins.h"

CryptDigest::CryptDigest(DWORD providerType, ALG_ID algorithm)
{
    static const wchar_t* const kAesNames[] = {nullptr, MS_ENH_RSA_AES_PROV_W,
                                               MS_ENH_RSA_AES_PROV_XP_W};
    static const wchar_t* const kDefaultOnly[] = {nullptr};
    const bool aes = providerType == PROV_RSA_AES;
    const wchar_t* const* names = aes ? kAesNames : kDefaultOnly;
    const size_t count = aes ? std::size(kAesNames) : std::size(kDefaultOnly);
    for (size_t i = 0; i < count && !m_hProvider; ++i) {
        HCRYPTPROV provider = 0;
        if (CryptAcquireContextW(&provider, nullptr, names[i], providerType, CRYPT_VERIFYCONTEXT))
            m_hProvider.Reset(provider);
        else
            m_error = GetLastError();
    }
    if (!m_hProvider) {
        m_failed = true;
        return;
    }
    m_error = 0;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(m_hProvider.Get(), algorithm, 0, 0, &hash))
        m_hHash.Reset(hash);
    else
        Fail();
}

void CryptDigest::Fail()
{
    if (!m_failed)
        m_error = GetLastError();
    m_failed = true;
}

void CryptDigest::Update(const void* data, DWORD length)
{
    if (m_hHash && !m_failed && length > 0 &&
        !CryptHashData(m_hHash.Get(), static_cast<const BYTE*>(data), length, 0))
        Fail();
}

std::wstring CryptDigest::FinishHex()
{
    if (!m_hHash || m_failed)
        return std::wstring();
    DWORD size = 0;
    DWORD sizeLength = sizeof size;
    if (!CryptGetHashParam(m_hHash.Get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &sizeLength, 0)) {
        Fail();
        return std::wstring();
    }
    BYTE digest[64] = {};
    DWORD length = size;
    if (size == 0 || size > sizeof digest ||
        !CryptGetHashParam(m_hHash.Get(), HP_HASHVAL, digest, &length, 0) || length != size) {
        Fail();
        return std::wstring();
    }
    return HexDigits(digest, length);
}

#include "update/installer_signature.h"

// wintrust.h needs wincrypt.h first.
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <utility>
#include <vector>

#include "environment/busy_file.h"
#include "environment/system_functions.h"
#include "log/log_file.h"
#include "update/crypt_digest.h"
#include "update/signer_pins.h"

namespace {

// CALG_SHA_256. The headers show it only when building for Vista and later, but XP SP3's AES
// provider computes it too, under the same identifier.
constexpr ALG_ID kSha256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;
#ifdef CALG_SHA_256
static_assert(kSha256 == CALG_SHA_256);
#endif

struct PinnedSignerList {
    std::vector<std::wstring> pins;
    // Set by any list text at all: text without one usable fingerprint pins nothing and so
    // refuses every installer, rather than turning the check off.
    bool required = false;
};

PinnedSignerList& PinnedSigners()
{
    static PinnedSignerList list;
    return list;
}

// wintrust.dll (and the crypt32 it brings) is needed only when a downloaded installer is
// checked against pinned signers: loaded then, so that no other start pays for it.
struct TrustFunctions {
    decltype(&WinVerifyTrust) verify = nullptr;
    decltype(&WTHelperProvDataFromStateData) providerData = nullptr;
    decltype(&WTHelperGetProvSignerFromChain) signer = nullptr;
    decltype(&WTHelperGetProvCertFromChain) certificate = nullptr;
    DWORD loadError = 0;
};

const TrustFunctions& Trust()
{
    static const TrustFunctions functions = [] {
        TrustFunctions found;
        // Kept loaded for the rest of the run, like a static import.
        const HMODULE module = LoadSystemLibrary(L"wintrust.dll");
        found.loadError = module ? 0 : GetLastError();
        found.verify = FindModuleFunction<decltype(&WinVerifyTrust)>(module, "WinVerifyTrust");
        found.providerData = FindModuleFunction<decltype(&WTHelperProvDataFromStateData)>(
            module, "WTHelperProvDataFromStateData");
        found.signer = FindModuleFunction<decltype(&WTHelperGetProvSignerFromChain)>(
            module, "WTHelperGetProvSignerFromChain");
        found.certificate = FindModuleFunction<decltype(&WTHelperGetProvCertFromChain)>(
            module, "WTHelperGetProvCertFromChain");
        if (module && !found.verify)
            found.loadError = ERROR_PROC_NOT_FOUND;
        return found;
    }();
    return functions;
}

// One WinVerifyTrust verification; its state is closed by the destructor, whatever the result.
// Without wintrust.dll the result is the load error, as an HRESULT: the installer is refused.
class TrustVerification {
public:
    TrustVerification(const std::wstring& path, HANDLE file)
    {
        if (!Trust().verify) {
            m_result = HRESULT_FROM_WIN32(Trust().loadError);
            return;
        }
        m_file.cbStruct = sizeof m_file;
        m_file.pcwszFilePath = path.c_str();
        m_file.hFile = file;
        m_data.cbStruct = sizeof m_data;
        m_data.dwUIChoice = WTD_UI_NONE;
        // Revocation would fetch lists from the network on every start; the pin already narrows
        // trust to the publisher's own certificates.
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        m_result = Trust().verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
    }
    ~TrustVerification()
    {
        if (!Trust().verify)
            return;
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        Trust().verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;

    LONG result() const { return m_result; }

    // The certificate that made the signature; null when the state holds none.
    const CERT_CONTEXT* SignerCertificate() const
    {
        const TrustFunctions& trust = Trust();
        if (!trust.providerData || !trust.signer || !trust.certificate)
            return nullptr;
        CRYPT_PROVIDER_DATA* provider = trust.providerData(m_data.hWVTStateData);
        if (!provider)
            return nullptr;
        CRYPT_PROVIDER_SGNR* signer = trust.signer(provider, 0, FALSE, 0);
        if (!signer)
            return nullptr;
        CRYPT_PROVIDER_CERT* certificate = trust.certificate(signer, 0);
        return certificate ? certificate->pCert : nullptr;
    }

private:
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    LONG m_result = 0;
};

}  // namespace

void SetPinnedSigners(const wchar_t* list)
{
    const std::wstring text = list ? list : L"";
    PinnedSigners().pins = ParsePinnedSigners(text);
    PinnedSigners().required = text.find_first_not_of(L" \t\r\n;,") != std::wstring::npos;
}

bool HasPinnedSigners()
{
    return PinnedSigners().required;
}

bool HeldInstaller::Open(const std::wstring& path)
{
    Release();
    // Sharing reads only: the process that starts the installer opens it for reading and
    // executing, which this allows; writing, renaming and deleting it do not get through.
    m_file = UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(m_file);
}

std::wstring Sha256Hex(const void* data, DWORD length, DWORD& error)
{
    CryptDigest digest(PROV_RSA_AES, kSha256);
    digest.Update(data, length);
    std::wstring hex = digest.FinishHex();
    error = digest.Error();
    return hex;
}

bool AcceptInstaller(const std::wstring& path, HeldInstaller& held)
{
    if (!HasPinnedSigners())
        return true;
    if (held.get() == INVALID_HANDLE_VALUE) {
        // A scanner looks at every new executable first.
        const DWORD error = RetryWhileBusy(
            L"setup open", [&] { return held.Open(path) ? DWORD{0} : GetLastError(); });
        if (error != 0) {
            WriteLog(GetLogFile(), L"setup open error, code: %d", error);
            return false;
        }
    }
    // Released on every refusal below: a file that failed is not kept from anyone.
    HeldInstaller file = std::move(held);
    const TrustVerification verification(path, file.get());
    const LONG result = verification.result();
    if (result == static_cast<LONG>(TRUST_E_NOSIGNATURE)) {
        WriteLog(GetLogFile(), L"setup signature missing: %s", path.c_str());
        return false;
    }
    if (result != ERROR_SUCCESS) {
        WriteLog(GetLogFile(), L"setup signature invalid, code: 0x%08X",
                 static_cast<unsigned>(result));
        return false;
    }
    const CERT_CONTEXT* certificate = verification.SignerCertificate();
    if (!certificate) {
        WriteLog(GetLogFile(), L"setup signer certificate missing");
        return false;
    }
    DWORD hashError = 0;
    const std::wstring fingerprint =
        Sha256Hex(certificate->pbCertEncoded, certificate->cbCertEncoded, hashError);
    if (fingerprint.empty()) {
        WriteLog(GetLogFile(), L"setup signer SHA-256 error, code: %d", hashError);
        return false;
    }
    if (!IsPinnedSigner(PinnedSigners().pins, fingerprint)) {
        WriteLog(GetLogFile(), L"setup signer not pinned: %s", fingerprint.c_str());
        return false;
    }
    WriteLog(GetLogFile(), L"setup signer: %s", fingerprint.c_str());
    held = std::move(file);
    return true;
}

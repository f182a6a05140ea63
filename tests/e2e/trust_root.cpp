// trust_root FILE.der: adds the certificate to the LocalMachine Root store of the Wine prefix it
// runs in, so that WinINet there trusts what it signs. Run only inside a test's own prefix.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<BYTE> der((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    const BOOL added = store && CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    if (store)
        CertCloseStore(store, 0);
    std::printf(added ? "trusted\n" : "error %lu\n", error);
    return added ? 0 : 1;
}

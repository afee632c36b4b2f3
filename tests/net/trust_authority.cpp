// trust_authority add|remove CERT.pem: puts a test authority into the current user's Root store
// of the Windows system (the Wine prefix), or takes it out again. WinHTTP under Wine otherwise
// learns of a test authority only from the host's store, as Wine copies it into the prefix; a
// certificate in the prefix's own store (its registry part, which alone is written here) is
// trusted from the moment this returns.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3 || (std::string(argv[1]) != "add" && std::string(argv[1]) != "remove")) {
        std::fputs("usage: trust_authority add|remove CERT.pem\n", stderr);
        return 2;
    }
    std::ifstream file(argv[2], std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() ||
        !CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "%s holds no certificate\n", argv[2]);
        return 1;
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                         der.data(), &size, nullptr, nullptr);
    const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                           CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (store == nullptr) {
        std::fprintf(stderr, "the Root store can't be opened: %lu\n", GetLastError());
        return 1;
    }
    bool done = false;
    if (std::string(argv[1]) == "add") {
        done = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != 0;
    } else {
        const PCCERT_CONTEXT wanted =
            CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
        const PCCERT_CONTEXT found =
            wanted == nullptr ? nullptr
                              : CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                           CERT_FIND_EXISTING, wanted, nullptr);
        // Deleting frees the found context; a certificate that is not there is removed already.
        done = found == nullptr || CertDeleteCertificateFromStore(found) != 0;
        if (wanted != nullptr) {
            CertFreeCertificateContext(wanted);
        }
    }
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!done) {
        std::fprintf(stderr, "%s failed: %lu\n", argv[1], error);
        return 1;
    }
    return 0;
}

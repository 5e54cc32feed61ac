// trustroot: makes a certificate authority trusted by the Windows programs of
// this Wine prefix (or this Windows machine), for tests over https.
//
//   trustroot add CERT.der      adds the certificate to the machine's Root store
//
// The tests' authority is made at test time and trusted only inside the test
// prefix; nothing here touches the Linux machine's own trust store. Exit code 0
// on success; otherwise a message on stderr and 1 (2 for usage).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

namespace {

bool ReadFile(const wchar_t* path, std::vector<BYTE>& bytes) {
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) return false;
    BYTE buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    fclose(file);
    return !bytes.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || wcscmp(argv[1], L"add") != 0) {
        fwprintf(stderr, L"usage: trustroot add CERT.der\n");
        return 2;
    }
    std::vector<BYTE> der;
    if (!ReadFile(argv[2], der)) {
        fwprintf(stderr, L"trustroot: cannot read %ls\n", argv[2]);
        return 1;
    }
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (root == nullptr) {
        fwprintf(stderr, L"trustroot: cannot open the Root store (error %lu)\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(root, 0);
    if (!added) {
        fwprintf(stderr, L"trustroot: cannot add the certificate (error %lu)\n", error);
        return 1;
    }
    return 0;
}

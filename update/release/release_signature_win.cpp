#include "update/release/release_signature.h"

#include <cstring>

#include "update/release/bcrypt_handles.h"
#include "update/release/image_digest.h"

namespace {

// The key as BCrypt imports a public P-256 key: the blob's header, then X and Y.
std::vector<UCHAR> PublicKeyBlob(const ReleaseKey& key) {
    BCRYPT_ECCKEY_BLOB header{};
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    std::vector<UCHAR> blob(sizeof header + key.size());
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, key.data(), key.size());
    return blob;
}

// One key's answer: the system's status, and the call that gave it.
struct Verdict {
    const wchar_t* call;
    NTSTATUS status;
};

// A key the system cannot import verifies nothing. Digest and signature are
// copies: BCrypt takes writable buffers.
Verdict VerifyUnder(BCRYPT_ALG_HANDLE algorithm, const ReleaseKey& key, std::array<uint8_t, 32> digest,
                    ReleaseSignature signature) {
    BcryptHandles handles;
    std::vector<UCHAR> blob = PublicKeyBlob(key);
    const NTSTATUS status = BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handles.key, blob.data(),
                                                static_cast<ULONG>(blob.size()), 0);
    if (status < 0) return Verdict{L"BCryptImportKeyPair", status};
    return Verdict{L"BCryptVerifySignature",
                   BCryptVerifySignature(handles.key, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                         signature.data(), static_cast<ULONG>(signature.size()), 0)};
}

}  // namespace

bool VerifyReleaseSignature(const std::string& signedBytes, const ReleaseSignature& signature,
                            const std::vector<ReleaseKey>& keys) {
    std::array<uint8_t, 32> digest{};
    if (!Sha256Digest(reinterpret_cast<const uint8_t*>(signedBytes.data()), signedBytes.size(), digest)) return false;
    BcryptHandles provider;
    if (!BcryptSucceeded(BCryptOpenAlgorithmProvider(&provider.algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0),
                         L"BCryptOpenAlgorithmProvider", BCRYPT_ECDSA_P256_ALGORITHM)) {
        return false;
    }
    // While one key verifies, the others' refusals are expected (a vendor
    // moving to a new key); when none does, each key's answer is traced.
    std::vector<Verdict> verdicts;
    for (const ReleaseKey& key : keys) {
        verdicts.push_back(VerifyUnder(provider.algorithm, key, digest, signature));
        if (verdicts.back().status >= 0) return true;
    }
    for (size_t i = 0; i < verdicts.size(); ++i) {
        BcryptSucceeded(verdicts[i].status, verdicts[i].call, L"release key " + std::to_wstring(i + 1));
    }
    return false;
}

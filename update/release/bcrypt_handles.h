#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <string>

#include "base/trace.h"

// Closes what BCrypt opened, whichever step failed: the key and the hash
// before the algorithm provider they were made with.
struct BcryptHandles {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    BcryptHandles() = default;
    BcryptHandles(const BcryptHandles&) = delete;
    BcryptHandles& operator=(const BcryptHandles&) = delete;
    ~BcryptHandles() {
        if (hash != nullptr) BCryptDestroyHash(hash);
        if (key != nullptr) BCryptDestroyKey(key);
        if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

// True for a successful status; a failed one is traced with the call's name.
inline bool BcryptSucceeded(NTSTATUS status, const wchar_t* call, const std::wstring& subject = std::wstring()) {
    if (status >= 0) return true;
    TraceSystemError(call, subject, static_cast<DWORD>(status));
    return false;
}

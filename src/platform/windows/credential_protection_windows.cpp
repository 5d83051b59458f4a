#include "platform/credential_protection.h"

// dpapi.h builds on the definitions of windows.h.
#include <windows.h>

#include <dpapi.h>

#include <limits>

// The user's data protection: no description, no extra entropy, no prompt, no flags, so only the
// same user on the same machine can open the blob. The blob is stored as DPAPI returns it.
namespace platform {
namespace {

BYTE g_emptyMessage[1];

std::string lastError(const char* function) {
    return std::string(function) + " error " + std::to_string(GetLastError());
}

bool fitsDword(size_t size) { return size <= std::numeric_limits<DWORD>::max(); }

DATA_BLOB inputBlob(const ByteVector& bytes) {
    DATA_BLOB blob;
    blob.cbData = static_cast<DWORD>(bytes.size());
    blob.pbData = bytes.empty() ? g_emptyMessage : const_cast<BYTE*>(bytes.data());
    return blob;
}

}  // namespace

bool protectData(const KeyFileContext&, const ByteVector& plain, ByteVector& blob,
                 std::string& error) {
    if (!fitsDword(plain.size())) {
        error = "the secret is too large";
        return false;
    }
    DATA_BLOB in = inputBlob(plain);
    DATA_BLOB out{0, nullptr};
    if (!CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out)) {
        error = lastError("CryptProtectData");
        return false;
    }
    blob.assign(out.pbData, out.pbData + out.cbData);
    LocalFree(out.pbData);
    return true;
}

bool unprotectData(const KeyFileContext&, const ByteVector& blob, ByteVector& plain,
                   std::string& error) {
    plain.clear();
    if (blob.empty() || !fitsDword(blob.size())) {
        error = "the stored data has the wrong size";
        return false;
    }
    DATA_BLOB in = inputBlob(blob);
    DATA_BLOB out{0, nullptr};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out)) {
        error = lastError("CryptUnprotectData");
        return false;
    }
    plain.assign(out.pbData, out.pbData + out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return true;
}

std::string credentialKeyFilePath(const KeyFileContext&) { return std::string(); }

}  // namespace platform

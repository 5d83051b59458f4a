#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Encrypts small secrets (the private token) so that only the same user on the same machine can
// read them back. Windows uses the user's data protection (DPAPI); Linux seals them with a random
// 32-byte key kept in a per-user key file (mode 0600 in a 0700 folder in the user's config
// location), created on first use. Deleting that file makes every stored secret unreadable.
//
// Any thread may call these; they block briefly on the key file. On failure `error` says why in
// a few words for the log (never any secret material).
namespace platform {

using ByteVector = std::vector<std::uint8_t>;

// What the shim needs from the application: the application's folder under the user's config
// location ("Organisation/Application"; the key file lives there on Linux), and where to report
// what it repaired on the way (a line for the log). Windows needs neither.
struct KeyFileContext {
    std::string applicationFolder;
    std::function<void(const std::string& message)> warn;
};

bool protectData(const KeyFileContext& context, const ByteVector& plain, ByteVector& blob,
                 std::string& error);
bool unprotectData(const KeyFileContext& context, const ByteVector& blob, ByteVector& plain,
                   std::string& error);

// The key file's path where the platform keeps one (Linux), empty where it does not (Windows).
std::string credentialKeyFilePath(const KeyFileContext& context);

}  // namespace platform

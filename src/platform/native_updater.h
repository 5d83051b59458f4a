#pragma once

#include <string>

// The operating system's own updater where this build has one: WinSparkle on Windows, loaded at
// run time from the application's folder, which downloads the update feed, verifies the update's
// signature and shows its own windows. Linux has none (the update manager's fallback is used).
//
// Main thread only. Starting loads a library and may block briefly on the disk.
namespace platform {

// Whether this build has a native updater at all; decided when the platform layer is built.
bool hasNativeUpdater();

struct NativeUpdaterDetails {
    std::string appcastUrl;  // UTF-8
    std::u16string companyName;
    std::u16string applicationName;
    std::u16string version;
    // Base64 of the 32-byte Ed25519 key that every downloaded update must be signed with.
    std::string publicKeyBase64;
};

// Loads and initialises the updater, once per process; later calls succeed at once. False with
// `error`, the text the user sees, when the library cannot be loaded from the application's
// folder, lacks an entry point (the signature check included), or the feed URL or the key is
// missing or refused. The updater never runs without the signature check.
bool startNativeUpdater(const NativeUpdaterDetails& details, std::string& error);

// Lets the started updater check for a new version with its own windows; returns at once. False
// with `error` when it was not started or cannot check.
bool checkNativeUpdaterWithUi(std::string& error);

}  // namespace platform

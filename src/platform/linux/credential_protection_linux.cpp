#include "platform/credential_protection.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sodium.h>

#include "xdg_config_home.h"

// Blob layout: one version byte, the secretbox nonce, then the sealed message (MAC + text).
// The key is read from its file on every call, so deleting the file takes effect at once.
namespace platform {
namespace {

constexpr std::uint8_t kBlobVersion = 1;
constexpr size_t kKeyBytes = crypto_secretbox_KEYBYTES;
constexpr size_t kBlobHeaderBytes = 1 + crypto_secretbox_NONCEBYTES;
constexpr char kKeyFileName[] = "credentials.key";
constexpr mode_t kDirectoryMode = 0700;
constexpr mode_t kKeyFileMode = 0600;

struct SecretKey {
    unsigned char bytes[kKeyBytes];
    SecretKey() = default;
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;
    ~SecretKey() { sodium_memzero(bytes, sizeof bytes); }
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

std::string systemError(const std::string& what, int errorNumber) {
    return what + ": " + strerror(errorNumber);
}

void note(const KeyFileContext& context, const std::string& text) {
    if (context.warn) context.warn(text);
}

bool sodiumReady() {
    static const int result = sodium_init();  // thread-safe once; 1 means "already done"
    return result >= 0;
}

std::string keyDirectory(const KeyFileContext& context) {
    const std::string base = xdg::configHome();
    if (base.empty() || context.applicationFolder.empty()) return std::string();
    return base + "/" + context.applicationFolder;
}

// The key folder must be ours and closed to everybody else; a looser one is tightened.
bool checkDirectory(const KeyFileContext& context, const std::string& directory, bool create,
                    std::string& error) {
    if (directory.empty()) {
        error = "no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)";
        return false;
    }
    if (create) {
        // Create missing parents too; new folders are private from the start.
        for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
            const std::string part = directory.substr(0, slash);
            struct stat existing {};
            if (::mkdir(part.c_str(), kDirectoryMode) != 0 && errno != EEXIST &&
                ::stat(part.c_str(), &existing) != 0) {
                error = systemError("cannot create " + part, errno);
                return false;
            }
            if (slash == std::string::npos) break;
        }
    }
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        error = errno == ENOENT ? "the key file is missing: " + directory + "/" + kKeyFileName
                                : systemError("cannot inspect " + directory, errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
        error = directory + " is not a folder of this user";
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        if (::chmod(directory.c_str(), kDirectoryMode) != 0) {
            error = systemError("cannot restrict " + directory, errno);
            return false;
        }
        note(context, "Restricted the credential key folder to its owner: " + directory);
    }
    return true;
}

enum class KeyRead { Ok, Missing, Invalid, Failed };

KeyRead readKey(const KeyFileContext& context, const std::string& path, SecretKey& key,
                std::string& error) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid()) {
        const int openError = errno;
        if (openError == ENOENT) {
            error = "the key file is missing: " + path;
            return KeyRead::Missing;
        }
        error = systemError("cannot open the key file " + path, openError);
        // A symbolic link in place of the key is not ours to follow.
        return openError == ELOOP ? KeyRead::Invalid : KeyRead::Failed;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = systemError("cannot inspect the key file " + path, errno);
        return KeyRead::Failed;
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        error = "the key file is not a file of this user: " + path;
        return KeyRead::Invalid;
    }
    if ((info.st_mode & 077) != 0) {
        if (::fchmod(fd.get(), kKeyFileMode) != 0) {
            error = systemError("cannot restrict the key file " + path, errno);
            return KeyRead::Failed;
        }
        note(context, "Restricted the credential key file to its owner: " + path);
    }
    if (info.st_size != static_cast<off_t>(kKeyBytes)) {
        error = "the key file has the wrong size: " + path;
        return KeyRead::Invalid;
    }
    size_t done = 0;
    while (done < kKeyBytes) {
        const ssize_t n = ::read(fd.get(), key.bytes + done, kKeyBytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot read the key file " + path;
            return KeyRead::Invalid;
        }
        done += static_cast<size_t>(n);
    }
    return KeyRead::Ok;
}

void syncDirectory(const std::string& directory) {
    FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

enum class KeyWrite { Written, AlreadyThere, Failed };

// Writes a fresh key completely under a temporary name and only then gives it the real name, so
// nobody ever reads half a key. Without `replace`, the hard link fails when another process got
// there first, and that process's key is the one everybody uses.
KeyWrite writeNewKey(const std::string& directory, const std::string& path, bool replace,
                     SecretKey& key, std::string& error) {
    randombytes_buf(key.bytes, sizeof key.bytes);
    std::string temporary = directory + "/." + kKeyFileName + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) {
        error = systemError("cannot create a key file in " + directory, errno);
        return KeyWrite::Failed;
    }
    bool written = ::fchmod(fd.get(), kKeyFileMode) == 0;
    for (size_t done = 0; written && done < kKeyBytes;) {
        const ssize_t n = ::write(fd.get(), key.bytes + done, kKeyBytes - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += static_cast<size_t>(n);
    }
    written = written && ::fsync(fd.get()) == 0;
    if (!written) {
        error = systemError("cannot write the key file " + temporary, errno);
        ::unlink(temporary.c_str());
        return KeyWrite::Failed;
    }

    KeyWrite outcome = KeyWrite::Written;
    if (replace) {
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            error = systemError("cannot replace the key file " + path, errno);
            outcome = KeyWrite::Failed;
        }
    } else if (::link(temporary.c_str(), path.c_str()) != 0) {
        if (errno == EEXIST) {
            outcome = KeyWrite::AlreadyThere;
        } else {
            error = systemError("cannot create the key file " + path, errno);
            outcome = KeyWrite::Failed;
        }
    }
    ::unlink(temporary.c_str());  // after a rename this name is already gone
    if (outcome == KeyWrite::Written) syncDirectory(directory);
    return outcome;
}

// Reading never creates anything; protecting creates the key on first use and replaces a
// damaged one (whatever it sealed is unreadable anyway), so a new login can be stored.
bool obtainKey(const KeyFileContext& context, bool forProtect, SecretKey& key,
               std::string& error) {
    if (!sodiumReady()) {
        error = "the crypto library could not be initialised";
        return false;
    }
    const std::string directory = keyDirectory(context);
    if (!checkDirectory(context, directory, forProtect, error)) return false;
    const std::string path = directory + "/" + kKeyFileName;

    // A few rounds at most: another process may create or replace the file meanwhile.
    for (int round = 0; round < 3; ++round) {
        switch (readKey(context, path, key, error)) {
            case KeyRead::Ok:
                return true;
            case KeyRead::Failed:
                return false;
            case KeyRead::Missing:
                if (!forProtect) return false;
                switch (writeNewKey(directory, path, false, key, error)) {
                    case KeyWrite::Written:
                        return true;
                    case KeyWrite::AlreadyThere:
                        continue;
                    case KeyWrite::Failed:
                        return false;
                }
                break;
            case KeyRead::Invalid:
                if (!forProtect) return false;
                note(context, "Replacing the unusable credential key file (" + error + ")");
                if (writeNewKey(directory, path, true, key, error) == KeyWrite::Failed) {
                    return false;
                }
                continue;  // read back whichever key won, in case another process replaced it too
        }
    }
    error = "the key file keeps changing: " + path;
    return false;
}

// libsodium wants real pointers even for zero-length messages.
unsigned char g_emptyMessage[1];

}  // namespace

bool protectData(const KeyFileContext& context, const ByteVector& plain, ByteVector& blob,
                 std::string& error) {
    SecretKey key;
    if (!obtainKey(context, true, key, error)) return false;
    blob.assign(kBlobHeaderBytes + crypto_secretbox_MACBYTES + plain.size(), 0);
    blob[0] = kBlobVersion;
    unsigned char* nonce = blob.data() + 1;
    randombytes_buf(nonce, crypto_secretbox_NONCEBYTES);
    const unsigned char* message = plain.empty() ? g_emptyMessage : plain.data();
    if (crypto_secretbox_easy(blob.data() + kBlobHeaderBytes, message, plain.size(), nonce,
                              key.bytes) != 0) {
        blob.clear();
        error = "encryption failed";
        return false;
    }
    return true;
}

bool unprotectData(const KeyFileContext& context, const ByteVector& blob, ByteVector& plain,
                   std::string& error) {
    plain.clear();
    if (blob.size() < kBlobHeaderBytes + crypto_secretbox_MACBYTES) {
        error = "the stored data is too short";
        return false;
    }
    if (blob[0] != kBlobVersion) {
        error = "the stored data has an unknown format";
        return false;
    }
    SecretKey key;
    if (!obtainKey(context, false, key, error)) return false;
    const size_t sealedBytes = blob.size() - kBlobHeaderBytes;
    ByteVector opened(sealedBytes - crypto_secretbox_MACBYTES);
    unsigned char* target = opened.empty() ? g_emptyMessage : opened.data();
    if (crypto_secretbox_open_easy(target, blob.data() + kBlobHeaderBytes, sealedBytes,
                                   blob.data() + 1, key.bytes) != 0) {
        error = "the stored data was altered or sealed with another key";
        return false;
    }
    plain.swap(opened);
    return true;
}

std::string credentialKeyFilePath(const KeyFileContext& context) {
    const std::string directory = keyDirectory(context);
    return directory.empty() ? std::string() : directory + "/" + kKeyFileName;
}

}  // namespace platform

// Seals one secret with the per-user key, starting the moment a "go" file appears, so that two
// of these can race to create the key. Prints "BLOB <base64>" and "OPENED <text>" (its own blob
// read back) on success.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <string>

#include "platform/credential_protection.h"

// The application's own key file, as the credential store names it.
const platform::KeyFileContext kKeyFile{"Ondaro/Ondaro Doredoradar", nullptr};

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: credential_key_child <secret> <go-file>\n");
        return 2;
    }
    std::printf("READY\n");
    std::fflush(stdout);
    QElapsedTimer waited;
    waited.start();
    while (!QFileInfo::exists(QString::fromLocal8Bit(argv[2]))) {
        if (waited.elapsed() > 20000) return 3;
        QThread::usleep(200);
    }

    const std::string secret = argv[1];
    const platform::ByteVector plain(secret.begin(), secret.end());
    platform::ByteVector blob;
    platform::ByteVector opened;
    std::string error;
    if (!platform::protectData(kKeyFile, plain, blob, error) ||
        !platform::unprotectData(kKeyFile, blob, opened, error)) {
        std::fprintf(stderr, "FAILED %s\n", error.c_str());
        return 1;
    }
    const QByteArray encoded =
        QByteArray(reinterpret_cast<const char*>(blob.data()), static_cast<qsizetype>(blob.size()))
            .toBase64();
    std::printf("BLOB %s\nOPENED %s\n", encoded.constData(),
                std::string(opened.begin(), opened.end()).c_str());
    return 0;
}

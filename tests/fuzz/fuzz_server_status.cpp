// Fuzz target: Icecast's public status document, with all the laxness its JSON allows.
#include <cstdint>
#include <string_view>

#include <QByteArray>
#include <QString>

#include "broadcast/server_status.h"
#include "fuzz_check.h"

namespace {

bool isUtf8(const std::string& text) {
    const QByteArray bytes = QByteArray::fromStdString(text);
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ServerStatus status;
    status.serverId = "left over";
    const bool decoded =
        decodeServerStatus(std::string_view(reinterpret_cast<const char*>(data), size), status);
    if (!decoded) {
        FUZZ_CHECK(status.serverId.empty() && status.mounts.empty());
        return 0;
    }
    FUZZ_CHECK(isUtf8(status.serverId));
    for (const StatusMount& mount : status.mounts) {
        FUZZ_CHECK(mount.listeners >= 0);
        FUZZ_CHECK(!mount.mount.empty() && mount.mount.front() == '/');
        FUZZ_CHECK(isUtf8(mount.mount) && isUtf8(mount.title) && isUtf8(mount.contentType));
        // Every mount the document lists can be looked up again.
        const StatusMount* found = status.find(mount.mount);
        FUZZ_CHECK(found != nullptr && found->mount == mount.mount);
    }
    return 0;
}

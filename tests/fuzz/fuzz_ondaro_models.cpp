// Fuzz target: account, error and server-statistics documents from the cloud, decoded whole.
#include <cstdint>

#include <QJsonDocument>

#include "cloud/ondaro_models.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));

    const OndaroAccount account = OndaroAccount::fromJson(document.object());
    FUZZ_CHECK(account.streamingServerPort >= 0 && account.streamingServerPort <= 65535);
    FUZZ_CHECK(account.subscription.listenersSlots >= 0);
    OndaroApiError::fromJson(document.object(), 500);

    for (const QString& mount : {QStringLiteral("live"), QStringLiteral("/stream"), QString()}) {
        const ServerStats stats = ServerStats::fromJson(document, mount);
        FUZZ_CHECK(stats.isOnline);
        FUZZ_CHECK(stats.totalListeners >= 0 && stats.currentListeners >= 0);
        if (!stats.errorMessage.isEmpty()) {
            FUZZ_CHECK(!stats.isBroadcastActive && stats.currentSong.isEmpty());
        }
        if (mount.isEmpty()) FUZZ_CHECK(!stats.isBroadcastActive);
    }
    return 0;
}

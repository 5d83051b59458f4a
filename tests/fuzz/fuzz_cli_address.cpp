// Fuzz target: the command-line broadcaster's arguments, above all its icecast:// address.
#include <cstdint>

#include <QStringList>
#include <QUrl>

#include "app/cli_options.h"
#include "fuzz_check.h"

// Arguments are separated by NUL bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QStringList arguments =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))
            .split(QChar(0));
    CliOptions options;
    QString error;
    if (!cli::parseArguments(arguments, QStringLiteral("from environment"), &options, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    if (options.command != CliOptions::Command::Broadcast &&
        options.command != CliOptions::Command::Check) {
        return 0;
    }
    FUZZ_CHECK(options.port >= 1);
    FUZZ_CHECK(!options.host.isEmpty() && !options.mount.isEmpty());
    FUZZ_CHECK(!options.username.isEmpty() && !options.password.isEmpty());

    // Written back as an address, the same request fields come out.
    QUrl url;
    url.setScheme(QStringLiteral("icecast"));
    url.setUserName(options.username, QUrl::DecodedMode);
    url.setPassword(options.password, QUrl::DecodedMode);
    url.setHost(options.host, QUrl::DecodedMode);
    url.setPort(options.port);
    url.setPath(options.mount, QUrl::DecodedMode);
    CliOptions again;
    const bool reparsed = cli::parseArguments(
        {QStringLiteral("--check"), url.toString(QUrl::FullyEncoded)}, QString(), &again, &error);
    FUZZ_CHECK(reparsed);
    FUZZ_CHECK(again.host == options.host && again.port == options.port);
    FUZZ_CHECK(again.mount == options.mount && again.username == options.username);
    FUZZ_CHECK(again.password == options.password);
    return 0;
}

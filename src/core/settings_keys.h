#pragma once

#include <QByteArray>
#include <QString>

class QSettings;

// Every key of the per-user settings store with its type and default, in one place: code reads
// and writes settings only through these constants and the typed helpers below, so no key
// string is spelled twice.
//
// Reading follows one rule for every type: an absent key gives the key's default; a stored
// value of the wrong type (text that is not a number, "maybe" for a flag, a list for a text)
// gives the type's zero value (false, 0, 0.0, empty), never a guess.
//
// Main thread only (the QSettings object passed in belongs to the caller).
namespace settingskeys {

struct BoolKey {
    const char* name;
    bool defaultValue;
};

struct IntKey {
    const char* name;
    int defaultValue;
};

struct FloatKey {
    const char* name;
    double defaultValue;
};

struct StringKey {
    const char* name;
    const char* defaultValue;
};

// Absent by default.
struct BytesKey {
    const char* name;
};

// Secrets are stored encrypted under kEncryptedGroup + "/" + the secret's name (CredentialStore).
inline constexpr char kEncryptedGroup[] = "Ondaro/Encrypted";
inline constexpr char kSecretPrivateToken[] = "PrivateToken";
inline constexpr char kSecretCachedAccountJson[] = "CachedAccountJson";

// Account side (SettingsManager).
inline constexpr StringKey kLastSelectedChannelId{"Ondaro/LastSelectedChannelId", ""};
inline constexpr BoolKey kCredentialsMigrated{"Ondaro/CredentialsMigrated", false};
// Plain-text values of older versions; only the migration reads them, and then removes them.
inline constexpr StringKey kLegacyPrivateToken{"Ondaro/PrivateToken", ""};
inline constexpr StringKey kLegacyCachedAccountJson{"Ondaro/CachedAccountJson", ""};
inline constexpr BoolKey kFirstLaunchComplete{"App/FirstLaunchComplete", false};

// Reconnection; seconds and attempts.
inline constexpr BoolKey kAutoReconnect{"connection/autoReconnect", true};
inline constexpr IntKey kReconnectDelay{"connection/reconnectDelay", 5};
inline constexpr IntKey kReconnectMaxRetries{"connection/reconnectMaxRetries", 10};

// Encoder. The type holds a Codec number (3 = Ogg Opus); the profile and Opus optimisation hold
// the mixer's AacProfile and OpusAudioType values.
inline constexpr IntKey kEncoderType{"encoder/type", 3};
inline constexpr IntKey kEncoderBitrate{"encoder/bitrate", 128};          // kbit/s
inline constexpr IntKey kEncoderSampleRate{"encoder/sampleRate", 48000};  // Hz
inline constexpr IntKey kEncoderChannels{"encoder/channels", 2};
inline constexpr BoolKey kEncoderAacAfterburner{"encoder/aacAfterburner", true};
inline constexpr IntKey kEncoderAacProfile{"encoder/aacProfile", 0};
inline constexpr IntKey kEncoderOpusOptimizedFor{"encoder/opusOptimizedFor", 0};

// Decks, crossfader and ducking. Device names are the display texts of the deck's device list;
// volumes are tenths of a dB (-240..240); the crossfader runs from -1.0 (deck 1) to 1.0.
inline constexpr StringKey kDeck1Device{"audio/deck1Device", ""};
inline constexpr StringKey kDeck2Device{"audio/deck2Device", ""};
inline constexpr IntKey kDeck1Volume{"audio/deck1Volume", 0};
inline constexpr IntKey kDeck2Volume{"audio/deck2Volume", 0};
inline constexpr FloatKey kCrossfaderPosition{"audio/crossfaderPosition", 0.0};
inline constexpr IntKey kDuckingPreset{"audio/duckingPreset", 0};  // 6 = the custom values below
inline constexpr FloatKey kDuckingThreshold{"audio/duckingThreshold", -35.0};  // dB
inline constexpr FloatKey kDuckingRatio{"audio/duckingRatio", 6.0};
inline constexpr IntKey kDuckingAttack{"audio/duckingAttack", 10};     // ms
inline constexpr IntKey kDuckingRelease{"audio/duckingRelease", 500};  // ms
inline constexpr FloatKey kDuckingKnee{"audio/duckingKnee", 6.0};      // dB

// "Now playing" source: 0 manual, 1 text file, 2 URL, 3 window title.
inline constexpr IntKey kMetadataSource{"metadata/source", 0};
inline constexpr StringKey kMetadataFilePath{"metadata/filePath", ""};
inline constexpr StringKey kMetadataUrl{"metadata/url", ""};
inline constexpr StringKey kMetadataWindowPattern{"metadata/windowPattern", ""};
inline constexpr BoolKey kMetadataFileReadLastLine{"metadata/fileReadLastLine", false};
inline constexpr IntKey kMetadataUrlPollInterval{"metadata/urlPollInterval", 30};  // seconds

// Stream information announced to the server.
inline constexpr StringKey kStreamName{"stream/name", "Unspecified Stream"};
inline constexpr StringKey kStreamDescription{"stream/description", "Unspecified Stream"};
inline constexpr StringKey kStreamGenre{"stream/genre", "Unspecified"};
inline constexpr StringKey kStreamUrl{"stream/url", ""};
inline constexpr BoolKey kStreamPublic{"stream/public", false};

inline constexpr BoolKey kDebugFileLogging{"debug/fileLogging", false};

inline constexpr BoolKey kMinimizeToTray{"ui/minimizeToTray", false};
inline constexpr BytesKey kWindowGeometry{"ui/windowGeometry"};
inline constexpr BytesKey kWindowState{"ui/windowState"};

// The full store key of a secret: "Ondaro/Encrypted/<name>".
QString secretKey(const QString& secretName);

bool read(const QSettings& settings, BoolKey key);
int read(const QSettings& settings, IntKey key);
double read(const QSettings& settings, FloatKey key);
QString read(const QSettings& settings, StringKey key);
QByteArray read(const QSettings& settings, BytesKey key);

bool contains(const QSettings& settings, const char* name);

void write(QSettings& settings, BoolKey key, bool value);
void write(QSettings& settings, IntKey key, int value);
void write(QSettings& settings, FloatKey key, double value);
void write(QSettings& settings, StringKey key, const QString& value);
void write(QSettings& settings, BytesKey key, const QByteArray& value);

void remove(QSettings& settings, const char* name);

}  // namespace settingskeys

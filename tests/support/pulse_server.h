#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <memory>

#include "managed_process.h"

// A private PulseAudio daemon for one test, reachable only through its own socket, with
// 48 kHz stereo null devices:
//   sink   "test_sink"  (default; what programs play into)
//   sink   "mic_sink"   and the source "test_mic" fed by it (a stand-in microphone)
// applyToProcess() points this process's PulseAudio clients (GStreamer, libobs) at it.
class PulseServer {
public:
    PulseServer();
    ~PulseServer();

    bool start(QString* error = nullptr);
    void stop();

    QString serverAddress() const;  // "unix:<folder>/native"
    QProcessEnvironment environment() const;
    void applyToProcess() const;

    // Runs pactl against this daemon; returns its standard output ("" on failure).
    QString pactl(const QStringList& arguments) const;

    // Plays a sine tone into a sink as a separate program (gst-launch-1.0) whose PulseAudio
    // application name is `applicationName`; stopped by PID when the handle goes.
    std::unique_ptr<ManagedProcess> playTone(const QString& sink, double frequencyHz,
                                             const QString& applicationName,
                                             double volume = 0.5) const;

    // Writes a 48 kHz stereo 16-bit WAV file holding a sine tone.
    static bool writeToneWav(const QString& path, double frequencyHz, double seconds,
                             double volume = 0.5);

    // Plays a file into a sink with paplay (PulseAudio's own player, executable "paplay"),
    // calling itself `clientName`; it ends by itself at the end of the file, or when the
    // handle goes.
    std::unique_ptr<ManagedProcess> playFile(const QString& sink, const QString& path,
                                             const QString& clientName) const;

    // Adds a 48 kHz stereo null sink `name` and an input device "<name>_in" fed by its monitor,
    // while the daemon runs (both appear to clients at once).
    bool addSinkWithInput(const QString& name) const;

    // A folder that lives as long as the fixture (for tone files and the like).
    QString scratchPath() const { return m_dir.path(); }

    // Records what a sink plays (its monitor) into `rawFile` as signed 16-bit little-endian
    // stereo at 48 kHz; stopped by PID when the handle goes.
    std::unique_ptr<ManagedProcess> record(const QString& sink, const QString& rawFile) const;

private:
    QTemporaryDir m_dir;
    ManagedProcess m_process;
};

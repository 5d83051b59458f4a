// The monitor branch: the sink that plays the mix locally, its device, its volume, and reopening
// it on another device while the mix plays.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QtGlobal>

#include <atomic>

#include "audio/gst_object_handle.h"

class ElementMaker;
class MixerGraph;

// Main thread, except the getters of the enabled state and volumes (any thread). Device
// switching waits up to a second for the streaming thread (see setDevice).
class MonitorOutput {
public:
    // The branch's ends, owned by the pipeline's bin; all null when a part is missing.
    struct Branch {
        GstElement* queue = nullptr;  // where the tee feeds in
        GstElement* volume = nullptr;
        GstElement* sink = nullptr;
    };

    // The sink sits in a bin of its own whose entry swallows the sink's failures: a sink that
    // loses its audio service (the sound server went away, a device was unplugged) stops only
    // the monitor, never the tee, and with it the mix and the broadcast. From its first failure
    // the bin drops what reaches it until restart() opens the sink again.

    MonitorOutput();
    MonitorOutput(const MonitorOutput&) = delete;
    MonitorOutput& operator=(const MonitorOutput&) = delete;

    // Makes queue → volume → convert → resample → sink in the maker's bin, links them and sets
    // them up for the current device and volume. The sink is the first of the platform's that
    // can reach its audio service (the last is taken untried).
    Branch buildBranch(ElementMaker& maker);
    // The pipeline whose branch later calls act on; detach before it goes.
    void attach(const MixerGraph* graph) { m_graph = graph; }
    void detach();
    // A pending re-enable after a device change is dropped (the mix stopped).
    void cancelReenable() { m_reenableTimer.stop(); }

    // "Default" first, then each device's display name once. Refreshes the name-to-id cache.
    QStringList devices();
    // Unknown names fall back to the default device. Applies at once to an existing sink;
    // while playing, the sink reopens on the new device, muted until it has, which waits up to
    // a second for the monitor's streaming thread when audio arrived within the last half
    // second (lastAudioMs, ms since the epoch).
    void setDevice(const QString& deviceName, bool playing, qint64 lastAudioMs);
    // The user's switch: wins over a pending re-enable. Switching on makes the monitor audible.
    void setEnabled(bool enabled);
    void setVolume(float volume);
    // Main thread: after the sink failed (see Branch), once its audio service is back: closes
    // and reopens it. False when there is no sink to reopen.
    bool restart(qint64 lastAudioMs);
    // Any thread: the sink failed and has not been reopened since.
    bool hasFailed() const { return m_failed.load(); }
    // Main thread: the sink reported an error of its own (it may hang rather than refuse). It
    // is closed and kept out of the pipeline's state changes until restart(): a sink that cannot
    // start would hold the whole pipeline short of playing, and with it the broadcast. True the
    // first time after the sink was (re)opened.
    bool markFailed();
    // Whether a bus message comes from the sink (or an element inside it).
    bool isFromSink(const GstObject* source) const;

    bool isEnabled() const { return m_enabled.load(); }
    float userVolume() const { return m_userVolume.load(); }
    float appliedVolume() const { return m_appliedVolume.load(); }
    QString device() const { return m_device; }  // the sink's device id, or "Default"
    QString sinkFactory() const { return m_sinkFactory; }

private:
    ElementHandle makeSink(ElementMaker& maker);
    GstElement* guardSink(ElementMaker& maker, const ElementHandle& sink);
    void configureSink(GstElement* sink);
    void applyEnabled(bool enabled);
    void applyVolume(float volume);
    void applyDeviceToSink();
    static void applyClientName(GstElement* sink);
    // A device change restarts only sinks that take a device; a failed sink is always reopened.
    void restartSink(qint64 lastAudioMs, bool afterFailure);
    QString resolveDeviceId(const QString& deviceName);

    const MixerGraph* m_graph = nullptr;
    std::atomic<bool> m_enabled{false};
    std::atomic<float> m_userVolume{1.0f};
    std::atomic<float> m_appliedVolume{0.0f};
    std::atomic<bool> m_failed{false};
    QString m_device;
    QString m_sinkFactory;
    QHash<QString, QString> m_deviceIds;  // display name -> id
    bool m_deviceIdsListed = false;
    // Re-enables the monitor after a device change; a user's own switch cancels it.
    QTimer m_reenableTimer;
};

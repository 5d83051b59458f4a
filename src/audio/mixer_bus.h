// A pipeline's bus: drained on the main thread (errors for the user, warnings for the log,
// latency changes), while streaming threads announce themselves on their own.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "audio/gst_object_handle.h"

class QSocketNotifier;

// Main thread, apart from the synchronous handler GStreamer's streaming threads run themselves.
class MixerBus : public QObject {
    Q_OBJECT

public:
    // Tells the monitor sink's messages from the rest (its failures stop only the monitor).
    using MonitorSource = std::function<bool(const GstObject* source)>;

    // Watches the bus of a built pipeline. Messages are drained whatever event dispatcher Qt
    // runs: the bus's poll descriptor is readable while messages wait.
    MixerBus(GstElement* pipeline, MonitorSource isMonitorSource, QObject* parent);
    ~MixerBus() override;

    // Handles every message waiting. A handler may close the bus.
    void drain();
    // Handles no more messages and lets the bus go. Called from a handler, the object is still
    // in use: delete it later.
    void close();

Q_SIGNALS:
    // The first error of this pipeline: one failure tends to raise a burst of follow-ups, which
    // are only logged.
    void errorOccurred(const QString& message);
    // An error of the monitor sink, each time it fails.
    void monitorFailed(const QString& message);

private:
    void handleMessage(GstMessage* message);

    GstElement* m_pipeline;  // not owned: the bus is closed before the pipeline goes
    MonitorSource m_isMonitorSource;
    BusHandle m_bus;
    QSocketNotifier* m_notifier = nullptr;  // a child
    bool m_errorReported = false;
};

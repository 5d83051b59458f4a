// A pipeline's bus: drained on the main thread (errors for the user, warnings for the log,
// latency changes), while streaming threads announce themselves on their own.
#pragma once

#include <QObject>
#include <QString>

#include "audio/gst_object_handle.h"

class QSocketNotifier;

// Main thread, apart from the synchronous handler GStreamer's streaming threads run themselves.
class MixerBus : public QObject {
    Q_OBJECT

public:
    // Watches the bus of a built pipeline. Messages are drained whatever event dispatcher Qt
    // runs: the bus's poll descriptor is readable while messages wait.
    MixerBus(GstElement* pipeline, QObject* parent);
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

private:
    void handleMessage(GstMessage* message);

    GstElement* m_pipeline;  // not owned: the bus is closed before the pipeline goes
    BusHandle m_bus;
    QSocketNotifier* m_notifier = nullptr;  // a child
    bool m_errorReported = false;
};

// A pipeline's bus: drained on the main thread; streaming threads announce themselves on it.
#include "audio/mixer_bus.h"

#include <gst/gst.h>

#include <QSocketNotifier>

#include "audio/mixer_log.h"
#include "platform/audio_threads.h"

namespace {

// Every streaming thread announces here, on itself, that it starts and ends its work: the
// moments to set it up for the live path (platform/audio_threads.h). Nothing else reads these
// announcements, so they stop here rather than wake the main thread.
GstBusSyncReply onSyncMessage(GstBus*, GstMessage* message, gpointer) {
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_STREAM_STATUS) return GST_BUS_PASS;
    const MessageHandle dropped = MessageHandle::adopt(message);  // ours to release
    GstStreamStatusType type;
    gst_message_parse_stream_status(message, &type, nullptr);
    if (type == GST_STREAM_STATUS_TYPE_ENTER) platform::enterStreamingThread();
    if (type == GST_STREAM_STATUS_TYPE_LEAVE) platform::leaveStreamingThread();
    return GST_BUS_DROP;
}

// Logs an error or warning message and returns its text.
QString logReport(GstMessage* message) {
    const bool isError = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
    GError* error = nullptr;
    gchar* debug = nullptr;
    if (isError) {
        gst_message_parse_error(message, &error, &debug);
    } else {
        gst_message_parse_warning(message, &error, &debug);
    }
    const char* kind = isError ? "error" : "warning";
    const QString text = error && error->message ? QString::fromUtf8(error->message)
                                                 : QStringLiteral("Unknown %1").arg(kind);
    MIXER_WARN << QStringLiteral("Pipeline %1: ").arg(kind) << text;
    if (debug && *debug) {
        MIXER_WARN << QStringLiteral("Pipeline %1 debug: ").arg(kind) << QString::fromUtf8(debug);
    }
    g_clear_error(&error);
    g_free(debug);
    return text;
}

}  // namespace

MixerBus::MixerBus(GstElement* pipeline, MonitorSource isMonitorSource, QObject* parent)
    : QObject(parent),
      m_pipeline(pipeline),
      m_isMonitorSource(std::move(isMonitorSource)),
      m_bus(BusHandle::adopt(gst_pipeline_get_bus(GST_PIPELINE(pipeline)))) {
    gst_bus_set_sync_handler(m_bus.get(), onSyncMessage, nullptr, nullptr);
    GPollFD pollFd{};
    gst_bus_get_pollfd(m_bus.get(), &pollFd);
    m_notifier = new QSocketNotifier(pollFd.fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MixerBus::drain);
}

MixerBus::~MixerBus() { close(); }

void MixerBus::close() {
    m_notifier->setEnabled(false);
    if (m_bus) {
        gst_bus_set_flushing(m_bus.get(), TRUE);
        m_bus.reset();
    }
}

void MixerBus::drain() {
    // Our own reference: a handler may close the bus mid-loop.
    const BusHandle bus = BusHandle::share(m_bus.get());
    while (bus && bus.get() == m_bus.get()) {
        const MessageHandle message = MessageHandle::adopt(gst_bus_pop(bus.get()));
        if (!message) break;
        handleMessage(message.get());
    }
}

void MixerBus::handleMessage(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            MIXER_INFO << "End of stream";
            break;
        case GST_MESSAGE_LATENCY:
            // A sink that (re)opened knows its latency only now; without the recalculation it
            // would treat every buffer as late and play silence.
            gst_bin_recalculate_latency(GST_BIN(m_pipeline));
            break;
        case GST_MESSAGE_ERROR: {
            const QString text = logReport(message);
            if (m_isMonitorSource && m_isMonitorSource(GST_MESSAGE_SRC(message))) {
                Q_EMIT monitorFailed(text);
                break;
            }
            if (!m_errorReported) {
                m_errorReported = true;
                Q_EMIT errorOccurred(text);
            }
            break;
        }
        case GST_MESSAGE_WARNING:
            logReport(message);
            break;
        default:
            break;
    }
}

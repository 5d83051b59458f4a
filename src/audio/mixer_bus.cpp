// A pipeline's bus: drained on the main thread; streaming threads announce themselves on it.
#include "audio/mixer_bus.h"

#include <gst/gst.h>

#include <QSocketNotifier>

#include "audio/mixer_log.h"
#include "platform/audio_threads.h"

using mixerlog::joined;

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

// The text and debug details of an error or warning message.
struct Report {
    QString text;
    QString details;
};

Report parseReport(GstMessage* message, const QString& fallback) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        gst_message_parse_error(message, &error, &debug);
    } else {
        gst_message_parse_warning(message, &error, &debug);
    }
    Report report{error && error->message ? QString::fromUtf8(error->message) : fallback,
                  debug ? QString::fromUtf8(debug) : QString()};
    g_clear_error(&error);
    g_free(debug);
    return report;
}

}  // namespace

MixerBus::MixerBus(GstElement* pipeline, QObject* parent)
    : QObject(parent),
      m_pipeline(pipeline),
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
            const Report report = parseReport(message, QStringLiteral("Unknown error"));
            MIXER_WARN << joined("Pipeline error:", report.text);
            if (!report.details.isEmpty()) {
                MIXER_WARN << joined("Pipeline error debug:", report.details);
            }
            if (!m_errorReported) {
                m_errorReported = true;
                Q_EMIT errorOccurred(report.text);
            }
            break;
        }
        case GST_MESSAGE_WARNING: {
            const Report report = parseReport(message, QStringLiteral("Unknown warning"));
            MIXER_WARN << joined("Pipeline warning:", report.text);
            if (!report.details.isEmpty()) {
                MIXER_WARN << joined("Pipeline warning debug:", report.details);
            }
            break;
        }
        default:
            break;
    }
}

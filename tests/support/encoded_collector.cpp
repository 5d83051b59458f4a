#include "encoded_collector.h"

#include <QObject>

#include "audio/gstreamer_mixer.h"

EncodedCollector::EncodedCollector(GStreamerMixer& mixer) {
    m_connection = QObject::connect(
        &mixer, &GStreamerMixer::encodedDataReady, &mixer,
        [this](const QByteArray& data) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bytes += data;
        },
        Qt::DirectConnection);
}

EncodedCollector::~EncodedCollector() { QObject::disconnect(m_connection); }

QByteArray EncodedCollector::bytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

qsizetype EncodedCollector::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes.size();
}

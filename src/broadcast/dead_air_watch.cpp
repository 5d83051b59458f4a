#include "broadcast/dead_air_watch.h"

#include <QDeadlineTimer>

#include "audio/voice_ducker.h"
#include "core/log_categories.h"

namespace {

qint64 nowMs() { return QDeadlineTimer::current().deadline(); }

}  // namespace

DeadAirWatch::DeadAirWatch(std::function<float()> takePeak, QObject* parent)
    : QObject(parent), m_takePeak(std::move(takePeak)) {
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &DeadAirWatch::tick);
}

void DeadAirWatch::setHoldSeconds(int seconds) { m_holdSeconds = seconds > 0 ? seconds : 0; }

QString DeadAirWatch::warningText() const {
    return QStringLiteral("Dead air: nothing above %1 dBFS for %2 s")
        .arg(qRound(m_detector.thresholdDb()))
        .arg(m_detector.holdSeconds());
}

void DeadAirWatch::start() {
    m_detector.configure(DeadAirDetector::kDefaultThresholdDb, m_holdSeconds);
    if (!m_detector.isEnabled()) return;
    m_takePeak();  // what was mixed before the broadcast does not count
    m_timer.start();
}

void DeadAirWatch::stop() {
    m_timer.stop();
    m_detector.reset();
}

void DeadAirWatch::tick() {
    switch (m_detector.update(VoiceDucker::levelToDb(m_takePeak()), nowMs())) {
        case DeadAirDetector::Event::DeadAir: {
            const QString text = warningText();
            qCWarning(lcBroadcaster).noquote() << text;
            Q_EMIT deadAir(text);
            break;
        }
        case DeadAirDetector::Event::SoundBack:
            qCInfo(lcBroadcaster) << "Sound is back after dead air";
            Q_EMIT soundBack();
            break;
        case DeadAirDetector::Event::None:
            break;
    }
}

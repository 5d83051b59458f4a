// The stereo level meter of a deck, the master or the monitor, and the painting behind it.
#include "ui/widgets/stereo_vu_meter.h"

#include <algorithm>
#include <cmath>

#include <QDateTime>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

namespace {

constexpr float kFloorDb = -60.0f;
constexpr float kCeilingDb = 3.0f;
constexpr float kChangeThresholdDb = 0.01f;
constexpr float kBottomDb = -54.0f;  // the bottom of a bar; 0 dB is its top
constexpr qint64 kHoldMs = 10000;
constexpr int kTickMs = 16;

const QColor kGreen(0x22, 0xC5, 0x5E);
const QColor kAmber(0xEA, 0xB3, 0x08);
const QColor kRed(0xEF, 0x44, 0x44);
const QColor kPaleGreen(0x86, 0xEF, 0xAC);
const QColor kPaleYellow(0xFD, 0xE0, 0x47);
const QColor kPaleRed(0xFC, 0xA5, 0xA5);
const QColor kTrack(0xE5, 0xE7, 0xEB);
const QColor kBorder(0xD1, 0xD5, 0xDB);
const QColor kLabel(0x6B, 0x72, 0x80);
const QColor kDark(0x11, 0x18, 0x27);

float clampDb(float db) {
    // A NaN from upstream would poison every coordinate below: treat it as silence.
    if (std::isnan(db)) return kFloorDb;
    return std::clamp(db, kFloorDb, kCeilingDb);
}

// Replaces `stored` only on a change the eye could see.
bool follow(float& stored, float value) {
    if (std::abs(stored - value) <= kChangeThresholdDb) return false;
    stored = value;
    return true;
}

double levelFraction(float db) { return std::clamp((db - kBottomDb) / -kBottomDb, 0.0f, 1.0f); }

struct ZoneColours {
    QColor green, amber, red;
};

QColor zoneColour(float db, const ZoneColours& zones) {
    if (db > -6.0f) return zones.red;
    if (db > -18.0f) return zones.amber;
    return zones.green;
}

QFont meterFont(int pixelSize, QFont::Weight weight) {
    QFont font;
    font.setFamilies({QStringLiteral("Consolas"), QStringLiteral("SF Mono"),
                      QStringLiteral("Monaco"), QStringLiteral("Cascadia Mono"),
                      QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

void paintCaption(QPainter& painter, const QRectF& bar, const QString& caption, bool compact) {
    const double width = std::clamp(bar.width() - 4.0, 14.0, 20.0);
    const QRectF plate(bar.center().x() - width / 2.0, bar.bottom() - 20.0, width, 16.0);
    const int alpha = compact ? 204 : 153;
    QColor outline = kBorder;
    outline.setAlpha(alpha);
    painter.setPen(QPen(outline, 1.0));
    painter.setBrush(QColor(255, 255, 255, alpha));
    painter.drawRoundedRect(plate.adjusted(0.5, 0.5, -0.5, -0.5), 3.0, 3.0);
    static const QFont font = meterFont(11, QFont::Bold);
    painter.setFont(font);
    painter.setPen(kDark);
    painter.drawText(plate, Qt::AlignCenter, caption);
}

enum class BarLayer { Track, Overlay };

// The track below a bar's levels and the outline and caption above them, drawn once per size and
// reused: the antialiased outlines and the caption's text are most of what a bar costs to paint.
QPixmap barLayer(BarLayer layer, const QSizeF& size, const QString& caption, bool compact,
                 qreal devicePixelRatio) {
    const QString key = QStringLiteral("doredoradar-meter-bar:%1:%2x%3:%4:%5:%6")
                            .arg(int(layer))
                            .arg(size.width())
                            .arg(size.height())
                            .arg(caption)
                            .arg(compact)
                            .arg(devicePixelRatio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap)) return pixmap;
    pixmap = QPixmap((size * devicePixelRatio).toSize().expandedTo(QSize(1, 1)));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bar(QPointF(0, 0), size);
    if (layer == BarLayer::Track) {
        QPainterPath track;
        track.addRoundedRect(bar, 4.0, 4.0);
        painter.fillPath(track, kTrack);
    } else {
        painter.setPen(QPen(kBorder, 1.0));
        painter.drawRoundedRect(bar.adjusted(0.5, 0.5, -0.5, -0.5), 4.0, 4.0);
        paintCaption(painter, bar, caption, compact);
    }
    painter.end();
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

// Bars sit on whole pixels, so the cached layers land exactly where they were drawn.
void paintBar(QPainter& painter, const QRectF& bar, float peak, float rms, float hold,
              const ZoneColours& zones, const QString& caption, bool compact) {
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    painter.drawPixmap(bar.topLeft(),
                       barLayer(BarLayer::Track, bar.size(), caption, compact, ratio));

    QPainterPath track;
    track.addRoundedRect(bar, 4.0, 4.0);
    painter.save();
    painter.setClipPath(track, Qt::IntersectClip);
    const double height = bar.height();
    const double bottom = bar.bottom();
    const double peakTop = bottom - levelFraction(peak) * height;
    const double greenTop = bottom - height * 2.0 / 3.0;
    const double amberTop = bottom - height * 8.0 / 9.0;
    auto fillZone = [&](double zoneTop, double zoneBottom, const QColor& colour) {
        const double top = std::max(zoneTop, peakTop);
        if (top < zoneBottom)
            painter.fillRect(QRectF(bar.left(), top, bar.width(), zoneBottom - top), colour);
    };
    fillZone(greenTop, bottom, zones.green);
    fillZone(amberTop, greenTop, zones.amber);
    fillZone(bar.top(), amberTop, zones.red);

    const double rmsHeight = levelFraction(rms) * height;
    if (rmsHeight > 0.0) {
        const double rmsWidth = std::max(2.0, bar.width() - 6.0);
        painter.fillRect(
            QRectF(bar.center().x() - rmsWidth / 2.0, bottom - rmsHeight, rmsWidth, rmsHeight),
            QColor(255, 255, 255, 90));
    }
    if (hold > kBottomDb) {
        const double y = bottom - levelFraction(hold) * height;
        painter.fillRect(QRectF(bar.left() + 2.0, y - 1.0, bar.width() - 4.0, 2.0),
                         zoneColour(hold, zones).darker(120));
    }
    painter.restore();
    painter.drawPixmap(bar.topLeft(),
                       barLayer(BarLayer::Overlay, bar.size(), caption, compact, ratio));
}

void paintScale(QPainter& painter, const QRectF& column, const QRectF& bar) {
    static const QFont font = meterFont(10, QFont::Normal);
    painter.setFont(font);
    painter.setPen(kLabel);
    for (int db = -6; db >= -54; db -= 6) {
        const double y = bar.bottom() - levelFraction(float(db)) * bar.height();
        painter.drawText(QRectF(column.left() - 4.0, y - 6.0, column.width() + 8.0, 12.0),
                         Qt::AlignCenter, QString::number(db));
    }
    painter.drawText(QRectF(column.left() - 4.0, bar.top(), column.width() + 8.0, 12.0),
                     Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("dB"));
}

}  // namespace

StereoMeterGeometry stereoMeterGeometry(const QSize& size, bool showScale, bool compact) {
    StereoMeterGeometry geometry;
    const double top = compact ? 0.0 : 5.0;
    const double height = std::max(0, size.height() - 11);
    if (compact) {
        constexpr double kBarWidth = 20.0;
        const double gap = showScale ? 8.0 + 16.5 : 8.0;
        const double left = std::floor((size.width() - (2 * kBarWidth + gap)) / 2.0);
        const double right = std::round(left + kBarWidth + gap);
        geometry.leftBar = QRectF(left, top, kBarWidth, height);
        geometry.rightBar = QRectF(right, top, kBarWidth, height);
        if (showScale)
            geometry.scale = QRectF(left + kBarWidth, top, right - left - kBarWidth, height);
        return geometry;
    }
    const int barWidth = std::max(16, (size.width() - (showScale ? 38 : 15)) / 2);
    geometry.leftBar = QRectF(5, top, barWidth, height);
    geometry.rightBar = QRectF(barWidth + (showScale ? 33 : 10), top, barWidth, height);
    if (showScale) geometry.scale = QRectF(barWidth + 10, top, 18, height);
    return geometry;
}

void paintStereoMeter(QPainter& painter, const QRect& area, const StereoMeterLook& look,
                      const QRect& exposed) {
    const StereoMeterGeometry geometry =
        stereoMeterGeometry(area.size(), look.showScale, look.compact);
    const QPointF origin = area.topLeft();
    auto needed = [&](const QRectF& part) {
        return !exposed.isValid() || exposed.intersects(part.translated(origin).toAlignedRect());
    };
    const bool pale = look.muted || look.ducked;
    const ZoneColours zones =
        pale ? ZoneColours{kPaleGreen, kPaleYellow, kPaleRed} : ZoneColours{kGreen, kAmber, kRed};
    const StereoLevels& levels = look.levels;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(origin);
    if (needed(geometry.leftBar)) {
        paintBar(painter, geometry.leftBar, levels.peakLeft, levels.rmsLeft, levels.holdLeft, zones,
                 QStringLiteral("L"), look.compact);
    }
    if (needed(geometry.rightBar)) {
        paintBar(painter, geometry.rightBar, levels.peakRight, levels.rmsRight, levels.holdRight,
                 zones, QStringLiteral("R"), look.compact);
    }
    if (!geometry.scale.isEmpty() && needed(geometry.scale)) {
        paintScale(painter, geometry.scale, geometry.leftBar);
    }
    painter.restore();
}

StereoVUMeter::StereoVUMeter(QWidget* parent)
    : QWidget(parent), m_clock([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    setMinimumSize(80, 200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_holdLeftTimeMs = m_holdRightTimeMs = m_clock();
}

void StereoVUMeter::setLevels(float peakLeft, float peakRight, float holdLeft, float holdRight,
                              float rmsLeft, float rmsRight) {
    StereoLevels& levels = m_look.levels;
    bool left = follow(levels.peakLeft, clampDb(peakLeft));
    left |= follow(levels.rmsLeft, clampDb(rmsLeft));
    bool right = follow(levels.peakRight, clampDb(peakRight));
    right |= follow(levels.rmsRight, clampDb(rmsRight));

    holdLeft = clampDb(holdLeft);
    holdRight = clampDb(holdRight);
    if (holdLeft > levels.holdLeft) {
        levels.holdLeft = holdLeft;
        m_holdLeftTimeMs = m_clock();
        left = true;
    }
    if (holdRight > levels.holdRight) {
        levels.holdRight = holdRight;
        m_holdRightTimeMs = m_clock();
        right = true;
    }
    repaintBars(left, right);
    watchHolds();
}

// The hold marks fall on a timer of their own, which runs only while a mark waits to fall: a
// meter at rest (or in a hidden window, fed nothing) wakes nobody.
void StereoVUMeter::watchHolds() {
    const StereoLevels& levels = m_look.levels;
    const bool waiting = levels.holdLeft > levels.peakLeft || levels.holdRight > levels.peakRight;
    if (waiting && m_timerId == 0) {
        m_timerId = startTimer(kTickMs, Qt::CoarseTimer);
    } else if (!waiting && m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
}

void StereoVUMeter::setMuted(bool muted) {
    if (m_look.muted == muted) return;
    m_look.muted = muted;
    repaintBars(true, true);
}

void StereoVUMeter::setDucked(bool ducked) {
    if (m_look.ducked == ducked) return;
    m_look.ducked = ducked;
    repaintBars(true, true);
}

void StereoVUMeter::setShowScale(bool showScale) {
    if (m_look.showScale == showScale) return;
    m_look.showScale = showScale;
    restyle();
}

void StereoVUMeter::setCompact(bool compact) {
    if (m_look.compact == compact) return;
    m_look.compact = compact;
    restyle();
}

void StereoVUMeter::setClock(Clock clock) {
    m_clock = std::move(clock);
    m_holdLeftTimeMs = m_holdRightTimeMs = m_clock();
}

QSize StereoVUMeter::sizeHint() const {
    if (!m_look.compact) return QWidget::sizeHint();
    return QSize(m_look.showScale ? 73 : 48, 256);
}

void StereoVUMeter::setBackdrop(const QColor& color) {
    m_backdrop = color;
    setAttribute(Qt::WA_OpaquePaintEvent, color.isValid());
    update();
}

void StereoVUMeter::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (m_backdrop.isValid()) painter.fillRect(event->rect(), m_backdrop);
    paintStereoMeter(painter, rect(), m_look, event->rect());
}

void StereoVUMeter::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timerId) {
        QWidget::timerEvent(event);
        return;
    }
    const qint64 nowMs = m_clock();
    StereoLevels& levels = m_look.levels;
    auto expire = [nowMs](float& hold, float peak, qint64 holdTimeMs) {
        if (hold <= peak || nowMs - holdTimeMs <= kHoldMs) return false;
        hold = peak;
        return true;
    };
    const bool left = expire(levels.holdLeft, levels.peakLeft, m_holdLeftTimeMs);
    const bool right = expire(levels.holdRight, levels.peakRight, m_holdRightTimeMs);
    repaintBars(left, right);
    watchHolds();
}

void StereoVUMeter::repaintBars(bool left, bool right) {
    if (!left && !right) return;
    const StereoMeterGeometry geometry =
        stereoMeterGeometry(size(), m_look.showScale, m_look.compact);
    if (left) update(geometry.leftBar.toAlignedRect());
    if (right) update(geometry.rightBar.toAlignedRect());
}

void StereoVUMeter::restyle() {
    updateGeometry();
    update();
}

#include "ui/LevelMeterView.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

qreal fraction(qreal value) { return value > 0 ? std::min<qreal>(value, 1.0) : 0.0; }

} // namespace

LevelMeterView::LevelMeterView(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    setImplicitHeight(4);
    step_.setSingleShot(true);
    step_.setTimerType(Qt::PreciseTimer); // stays in phase with the readings
    step_.setInterval(kStepMs);
    connect(&step_, &QTimer::timeout, this, &LevelMeterView::advance);
}

void LevelMeterView::setRms(qreal rms) {
    if (rms == rms_)
        return;
    const bool colourChanges = (rms >= 0.7) != (rms_ >= 0.7) || (rms >= 1.0) != (rms_ >= 1.0);
    rms_ = rms;
    retarget(bar_, rms);
    emit rmsChanged();
    if (colourChanges) {
        update();
        emit drawnChanged();
    }
}

void LevelMeterView::setPeak(qreal peak) {
    if (peak == peak_)
        return;
    const bool lookChanges = (peak > 0) != (peak_ > 0) || (peak >= 1.0) != (peak_ >= 1.0);
    peak_ = peak;
    retarget(peakGlide_, peak);
    emit peakChanged();
    if (lookChanges) {
        update();
        emit drawnChanged();
    }
}

qreal LevelMeterView::progress() const {
    if (!started_.isValid())
        return 1.0;
    return std::min<qreal>(qreal(started_.elapsed()) / kGlideMs, 1.0);
}

void LevelMeterView::retarget(Glide& glide, qreal value) {
    // Both glides restart together from where they stand now, as one reading
    // brings both values.
    const qreal p = progress();
    bar_.from = bar_.at(p);
    peakGlide_.from = peakGlide_.at(p);
    bar_.to = bar_.at(1.0);
    peakGlide_.to = peakGlide_.at(1.0);
    glide.to = fraction(value);
    started_.start();
    advance();
}

void LevelMeterView::advance() {
    const qreal p = progress();
    const qreal w = width();
    const qreal bar = std::round(bar_.at(p) * w);
    const qreal peak = std::round(peakGlide_.at(p) * w);
    if (bar != drawnBar_ || peak != drawnPeak_) {
        drawnBar_ = bar;
        drawnPeak_ = peak;
        update();
        emit drawnChanged();
    }
    if (p < 1.0)
        step_.start();
}

qreal LevelMeterView::peakOffset() const { return std::max<qreal>(std::min(drawnPeak_, width() - kPeakWidth), 0.0); }

QColor LevelMeterView::barColor() const { return rms_ >= 1.0 ? highColor_ : rms_ >= 0.7 ? midColor_ : lowColor_; }

void LevelMeterView::setColor(QColor& member, const QColor& c) {
    if (member == c)
        return;
    member = c;
    update();
}

void LevelMeterView::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() == oldGeometry.size())
        return;
    // A new size is never glided: the bars take their places at once.
    drawnBar_ = std::round(bar_.at(progress()) * newGeometry.width());
    drawnPeak_ = std::round(peakGlide_.at(progress()) * newGeometry.width());
    update();
    emit drawnChanged();
}

void LevelMeterView::paint(QPainter* painter) {
    const qreal w = width(), h = height();
    const qreal r = std::min(h * 0.5, 2.0);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(trackColor_);
    painter->drawRoundedRect(QRectF(0, 0, w, h), r, r);
    if (drawnBar_ > 0) {
        painter->setBrush(barColor());
        painter->drawRoundedRect(QRectF(0, 0, drawnBar_, h), r, r);
    }
    if (peakShown()) {
        const qreal pr = std::min(r, kPeakWidth / 2);
        painter->setBrush(peakColor());
        painter->drawRoundedRect(QRectF(peakOffset(), 0, kPeakWidth, h), pr, pr);
    }
}

} // namespace corvane

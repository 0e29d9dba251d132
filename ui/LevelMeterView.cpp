#include "ui/LevelMeterView.h"

#include "ui/MeterSteps.h"
#include "ui/MeterZone.h"

#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace corvane {

namespace {

qreal fraction(qreal value) { return value > 0 ? std::min<qreal>(value, 1.0) : 0.0; }

} // namespace

LevelMeterView::LevelMeterView(QQuickItem* parent) : LevelMeterView(SystemClock::instance(), parent) {}

LevelMeterView::LevelMeterView(Clock& clock, QQuickItem* parent) : QQuickPaintedItem(parent), clock_(clock) {
    setAntialiasing(true);
    connect(this, &QQuickPaintedItem::fillColorChanged, this, [this] { setOpaquePainting(fillColor().alpha() == 255); });
    setImplicitHeight(4);
}

LevelMeterView::~LevelMeterView() { MeterSteps::shared().withdraw(this); }

void LevelMeterView::setSlot(ChannelSlot* slot) {
    if (slot == slot_)
        return;
    slot_ = slot;
    follow();
}

void LevelMeterView::setInput(bool input) {
    if (input == input_)
        return;
    input_ = input;
    follow();
}

void LevelMeterView::setRightChannel(bool right) {
    if (right == right_)
        return;
    right_ = right;
    follow();
}

void LevelMeterView::follow() {
    disconnect(following_);
    emit sourceChanged();
    if (!slot_)
        return;
    using Getter = ChannelSlot::Reading (ChannelSlot::*)() const;
    using Signal = void (ChannelSlot::*)();
    const Getter get = input_ ? (right_ ? &ChannelSlot::inputLevelRight : &ChannelSlot::inputLevel)
                              : (right_ ? &ChannelSlot::outputLevelRight : &ChannelSlot::outputLevel);
    const Signal changed = input_ ? (right_ ? &ChannelSlot::inputLevelRightChanged : &ChannelSlot::inputLevelChanged)
                                  : (right_ ? &ChannelSlot::outputLevelRightChanged : &ChannelSlot::outputLevelChanged);
    ChannelSlot* slot = slot_;
    following_ = connect(slot, changed, this, [this, slot, get] { setReading((slot->*get)()); });
    setReading((slot->*get)());
}

namespace {

int zone(const LevelReading& r) { return MeterZone::of(r.rms) + 3 * (r.peak > 0) + 6 * (r.peak >= 1.0f); }

} // namespace

bool LevelMeterView::movesAGlide(const LevelReading& reading) const {
    const qreal w = width();
    return w <= 0 || std::abs(fraction(reading.rms) - bar_.to) * w >= 1.0 ||
           std::abs(fraction(reading.peak) - peakGlide_.to) * w >= 1.0;
}

void LevelMeterView::setReading(LevelReading reading) {
    if (reading == reading_)
        return;
    const bool lookChanges = zone(reading) != zone(reading_);
    reading_ = reading;
    if (lookChanges || movesAGlide(reading))
        retarget();
    else
        advance(); // in step with the readings, as a new target would be
    emit readingChanged();
    if (lookChanges) {
        update();
        emit drawnChanged();
    }
}

qreal LevelMeterView::progress() const {
    if (!started_)
        return 1.0;
    const std::chrono::duration<qreal, std::milli> elapsed = clock_.now() - *started_;
    return std::min<qreal>(elapsed.count() / kGlideMs, 1.0);
}

void LevelMeterView::retarget() {
    // Both glides restart together from where they stand now.
    const qreal p = progress();
    bar_ = {bar_.at(p), fraction(reading_.rms)};
    peakGlide_ = {peakGlide_.at(p), fraction(reading_.peak)};
    started_ = clock_.now();
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
        MeterSteps::shared().request(this);
}

qreal LevelMeterView::peakOffset() const { return std::max<qreal>(std::min(drawnPeak_, width() - kPeakWidth), 0.0); }

QColor LevelMeterView::barColor() const {
    switch (MeterZone::of(reading_.rms)) {
    case MeterZone::High:
        return highColor_;
    case MeterZone::Mid:
        return midColor_;
    case MeterZone::Low:
        break;
    }
    return lowColor_;
}

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

void LevelMeterView::drawPeak(QPainter* painter, qreal radius, qreal pixelScale) {
    // Drawn in whole device pixels from a picture of the line at the same
    // fraction of a pixel: a line a pixel and a half wide, scaled as it is
    // drawn, cost more than the rest of the meter.
    const qreal x = peakOffset() * pixelScale;
    const qreal whole = std::floor(x);
    const qreal phase = x - whole;
    const QRgb color = peakColor().rgba();
    auto line = std::find_if(peaks_.begin(), peaks_.end(),
                             [&](const Peak& p) { return p.color == color && p.phase == phase; });
    if (line == peaks_.end()) {
        if (peaks_.size() >= 8)
            peaks_.clear(); // the meter was resized or recoloured
        QImage image(QSize(int(std::ceil(phase + kPeakWidth * pixelScale)), pixels_.height()),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter linePainter(&image);
        linePainter.setRenderHint(QPainter::Antialiasing);
        linePainter.scale(pixelScale, pixels_.height() / height());
        linePainter.setPen(Qt::NoPen);
        linePainter.setBrush(QColor::fromRgba(color));
        linePainter.drawRoundedRect(QRectF(phase / pixelScale, 0, kPeakWidth, height()), radius, radius);
        linePainter.end();
        peaks_.push_back({color, phase, std::move(image)});
        line = peaks_.end() - 1;
    }
    painter->drawImage(QRectF(whole / pixelScale, 0, line->image.width() / pixelScale, height()), line->image);
}

QImage LevelMeterView::picture(const QColor& fill, const QColor& shape, qreal radius) const {
    const bool opaque = fill.alpha() == 255;
    QImage image(pixels_, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image.fill(opaque ? fill : QColor(Qt::transparent));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels_.width() / width(), pixels_.height() / height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(shape);
    painter.drawRoundedRect(QRectF(0, 0, width(), height()), radius, radius);
    return image;
}

const QImage& LevelMeterView::ground(qreal radius) {
    const QColor fill = fillColor();
    if (ground_.isNull() || groundFill_ != fill.rgba() || groundTrack_ != trackColor_.rgba()) {
        ground_ = picture(fill, trackColor_, radius);
        groundFill_ = fill.rgba();
        groundTrack_ = trackColor_.rgba();
    }
    return ground_;
}

void LevelMeterView::drawBar(QPainter* painter, const QColor& color, qreal radius) {
    const qreal length = drawnBar_;
    if (length <= 0)
        return;
    auto capsule = std::find_if(capsules_.begin(), capsules_.end(),
                                [&](const Capsule& c) { return c.color == color.rgba(); });
    if (capsule == capsules_.end()) {
        if (capsules_.size() >= 6)
            capsules_.clear(); // the colours were set anew: the old ones are of no more use
        capsules_.push_back({color.rgba(), picture(Qt::transparent, color, radius)});
        capsule = capsules_.end() - 1;
    }
    // A bar shorter than its two end caps keeps their outer parts.
    const qreal end = std::min(radius, length / 2);
    const qreal w = width(), h = height();
    const qreal toPixels = pixels_.width() / w;
    const qreal ph = pixels_.height();
    if (length > end)
        painter->drawImage(QRectF(0, 0, length - end, h), capsule->image, QRectF(0, 0, (length - end) * toPixels, ph));
    painter->drawImage(QRectF(length - end, 0, end, h), capsule->image,
                       QRectF((w - end) * toPixels, 0, end * toPixels, ph));
}

void LevelMeterView::paint(QPainter* painter) {
    const qreal w = width(), h = height();
    if (w <= 0 || h <= 0)
        return;
    const qreal r = std::min(h * 0.5, 2.0);
    const qreal pixelScale = std::abs(painter->deviceTransform().m22());
    if (QSizeF(w, h) != pictureSize_ || pixelScale != pictureScale_) {
        pictureSize_ = QSizeF(w, h);
        pictureScale_ = pixelScale;
        pixels_ = QSize(std::max(1, int(std::ceil(w * pixelScale))), std::max(1, int(std::ceil(h * pixelScale))));
        ground_ = QImage();
        capsules_.clear();
        peaks_.clear();
    }
    painter->drawImage(QRectF(0, 0, w, h), ground(r));
    drawBar(painter, barColor(), r);
    if (peakShown())
        drawPeak(painter, std::min(r, kPeakWidth / 2), pixelScale);
}

} // namespace corvane

#pragma once
// One horizontal level bar for a reading of linear amplitudes: a track, the
// rms bar (coloured by its MeterZone) and a thin peak line (red from 1.0),
// every shape rounded by min(height / 2, 2) points.
//
// A new reading glides in linearly over 80 ms, from where the bars stand. The
// glide is drawn in step with the readings: at each reading (which restarts
// it), and when the readings stop changing, every 33 ms after the last (and a
// few more, MeterSteps), about where the next reading would have come. The
// steps of every meter are taken together, so all the meters of the window
// draw in the same frames, at most as many as readings arrive. Drawn in whole points: a
// reading that moves nothing draws nothing, so a meter costs one small repaint
// per visible change and never keeps the window redrawing at the display's rate.
// A reading within a point of where the glides are already heading (in the
// same colour) moves nothing: a steady signal's readings jitter by less, and
// following them would redraw the window at every reading for nothing to see.
// The glides keep their targets, so a slow drift shows once it adds up to a
// point.
//
// A strip's meter reads its ChannelSlot itself (`slot`, `input`, `rightChannel`):
// readings arrive sixteen at a time thirty times a second, and a binding in
// QML per meter cost ten times what the meter does with the reading.
//
// Opaque when its fillColor is (the colour it sits on): a repaint then covers
// what lies under it, and the renderer draws nothing beneath it again.
//
// One painted picture per bar, not a shape per part: the software renderer
// walks every node of the scene on every frame, so a meter made of nodes costs
// more there than one that paints itself.
//
// Main thread only.

#include "engine/ChannelSlot.h"
#include "engine/LevelReading.h"
#include "platform/system/Clock.h"

#include <QColor>
#include <QImage>
#include <QMetaObject>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

#include <optional>
#include <vector>

namespace corvane {

class LevelMeterView : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    // Undefined in QML resets it to silence.
    Q_PROPERTY(corvane::LevelReading reading READ reading WRITE setReading RESET resetReading NOTIFY readingChanged)
    // The strip whose level is shown, if any: its input or output side, the
    // pair's right channel when `right`. Its readings replace `reading`.
    Q_PROPERTY(corvane::ChannelSlot* slot READ slot WRITE setSlot NOTIFY sourceChanged)
    Q_PROPERTY(bool input READ input WRITE setInput NOTIFY sourceChanged)
    Q_PROPERTY(bool rightChannel READ rightChannel WRITE setRightChannel NOTIFY sourceChanged)
    Q_PROPERTY(QColor trackColor MEMBER trackColor_ WRITE setTrackColor)
    Q_PROPERTY(QColor lowColor MEMBER lowColor_ WRITE setLowColor)
    Q_PROPERTY(QColor midColor MEMBER midColor_ WRITE setMidColor)
    Q_PROPERTY(QColor highColor MEMBER highColor_ WRITE setHighColor)
    Q_PROPERTY(QColor peakLineColor MEMBER peakLineColor_ WRITE setPeakLineColor)
    // What is drawn now, in points from the leading edge.
    Q_PROPERTY(qreal barWidth READ barWidth NOTIFY drawnChanged)
    Q_PROPERTY(qreal peakOffset READ peakOffset NOTIFY drawnChanged)
    Q_PROPERTY(bool peakShown READ peakShown NOTIFY drawnChanged)
    Q_PROPERTY(QColor barColor READ barColor NOTIFY drawnChanged)
    Q_PROPERTY(QColor peakColor READ peakColor NOTIFY drawnChanged)

public:
    static constexpr qreal kPeakWidth = 1.5;
    static constexpr int kGlideMs = 80;
    static constexpr int kStepMs = 33; // the readings' period

    explicit LevelMeterView(QQuickItem* parent = nullptr);
    explicit LevelMeterView(Clock& clock, QQuickItem* parent = nullptr);
    ~LevelMeterView() override;

    LevelReading reading() const { return reading_; }
    void setReading(LevelReading reading);
    void resetReading() { setReading({}); }
    ChannelSlot* slot() const { return slot_; }
    void setSlot(ChannelSlot* slot);
    bool input() const { return input_; }
    void setInput(bool input);
    bool rightChannel() const { return right_; }
    void setRightChannel(bool right);
    void setTrackColor(const QColor& c) { setColor(trackColor_, c); }
    void setLowColor(const QColor& c) { setColor(lowColor_, c); }
    void setMidColor(const QColor& c) { setColor(midColor_, c); }
    void setHighColor(const QColor& c) { setColor(highColor_, c); }
    void setPeakLineColor(const QColor& c) { setColor(peakLineColor_, c); }

    qreal barWidth() const { return drawnBar_; }
    qreal peakOffset() const;
    bool peakShown() const { return reading_.peak > 0; }
    QColor barColor() const;
    QColor peakColor() const { return reading_.peak >= 1.0f ? highColor_ : peakLineColor_; }

    void paint(QPainter* painter) override;

signals:
    void readingChanged();
    void drawnChanged();
    void sourceChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    friend class MeterSteps; // takes the glide's steps
    // A value gliding from `from` to `to`, as fractions of the width.
    struct Glide {
        qreal from = 0;
        qreal to = 0;
        qreal at(qreal progress) const { return from + (to - from) * progress; }
    };
    qreal progress() const;
    void follow();
    bool movesAGlide(const LevelReading& reading) const;
    void retarget();
    void advance();
    void setColor(QColor& member, const QColor& c);
    // The track and the bars are cut from pictures of the whole meter at its
    // size and zoom, so that a frame draws them in three pictures: the
    // ground (the fill colour and the track), and the left part and right end
    // of a capsule as long as the meter in the bar's colour. Painting its
    // parts anew took ten painter calls, each costing more than its pixels.
    void drawBar(QPainter* painter, const QColor& color, qreal radius);
    const QImage& ground(qreal radius);
    QImage picture(const QColor& fill, const QColor& shape, qreal radius) const;
    QSizeF pictureSize_; // the meter's size and zoom the pictures are of
    qreal pictureScale_ = 0;
    QSize pixels_;       // of the pictures, for the whole meter
    QImage ground_;      // null when out of date
    QRgb groundFill_ = 0;
    QRgb groundTrack_ = 0;
    struct Capsule {
        QRgb color;
        QImage image;
    };
    std::vector<Capsule> capsules_; // one per bar colour shown at this size
    void drawPeak(QPainter* painter, qreal radius, qreal pixelScale);
    struct Peak {
        QRgb color;
        qreal phase; // the line's left edge past a whole device pixel
        QImage image;
    };
    std::vector<Peak> peaks_; // a few: the line's colours and the phases it stood at

    Clock& clock_;
    QPointer<ChannelSlot> slot_;
    bool input_ = true;
    bool right_ = false;
    QMetaObject::Connection following_;

    LevelReading reading_;
    Glide bar_;
    Glide peakGlide_;
    std::optional<Clock::TimePoint> started_; // the current glides'
    qreal drawnBar_ = 0;    // whole points
    qreal drawnPeak_ = 0;   // whole points
    QColor trackColor_{Qt::darkGray};
    QColor lowColor_{Qt::green};
    QColor midColor_{QColor(250, 189, 74)};
    QColor highColor_{Qt::red};
    QColor peakLineColor_{Qt::white};
};

} // namespace corvane

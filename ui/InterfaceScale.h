#pragma once
// The zoom factor of the main window: the ratio of its content width to the
// design width. The whole interface is drawn as one picture at that factor
// (ScaledCanvas); this object takes charge of the window around it: the zoom
// commands and their steps, the window's size for a factor, the 1000:664
// shape a hand resize snaps back to, and the factor kept across runs under
// the setting "InterfaceScale". Main thread only.

#include "platform/system/Clock.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QVariant>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

#include <array>
#include <memory>
#include <optional>

class QKeyEvent;
class QSettings;

namespace corvane {

class InterfaceScale : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application owns the one scale")
    // Content size for the stored factor, for the window's first size.
    Q_PROPERTY(QSize defaultContentSize READ defaultContentSize CONSTANT)
    // Height of the window's own bars above the scaled content (the menu
    // bar): they keep their size at every factor, like a title bar.
    Q_PROPERTY(int chromeHeight READ chromeHeight WRITE setChromeHeight NOTIFY chromeHeightChanged)
public:
    static constexpr int kDesignWidth = 1000;
    static constexpr int kDesignHeight = 664;
    static constexpr double kMinimumFactor = 0.75;
    static constexpr double kStepTolerance = 0.01;
    static constexpr std::array<double, 8> kZoomSteps{0.75, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0};
    static constexpr auto kSettleDelay = std::chrono::milliseconds(250);
    static inline const QString kSettingsKey = QStringLiteral("InterfaceScale");

    explicit InterfaceScale(Clock& clock = SystemClock::instance(), QObject* parent = nullptr);
    ~InterfaceScale() override;

    // The step a zoom in (out) goes to from factor `current`; none at the end.
    static std::optional<double> stepUp(double current);
    static std::optional<double> stepDown(double current);
    // The factor to start with for a stored setting: at least the minimum when
    // a positive number is stored, 1 otherwise (nothing, garbage, NaN, ≤ 0).
    static double restoredFactor(const QVariant& stored);
    // The content size for `factor`, as a window with `frame` around it
    // (margins plus bars) gets it on a screen whose free area is `available`
    // (empty: no screen): at least the minimum, at most what fits.
    static QSize contentSizeFor(double factor, QMargins frame, QRect available);
    static double storedFactor();

    QSize defaultContentSize() const;
    int chromeHeight() const { return chromeHeight_; }
    void setChromeHeight(int height);

    // Adopts `window` as the main window (once; again only for another
    // window), follows its resizes and restores the stored factor.
    void configureWindow(QWindow* window);
    QWindow* window() const { return window_; }
    // Current factor: content width / design width; 0 without a window.
    double factor() const;

    Q_INVOKABLE void zoomIn();
    Q_INVOKABLE void zoomOut();
    Q_INVOKABLE void actualSize();
    // Resizes the main window to `factor`, top-left corner kept, on its
    // screen. Nothing in full screen or while maximized.
    Q_INVOKABLE void applyScale(double factor);

    // The zoom keys, from any window of the application: Ctrl with + or =
    // (Shift may be held), -, 0, in the main window or a window it owns (a
    // sheet), never in another one (a plug-in editor). True when `event` was
    // one of them, handled even if it changed nothing.
    bool handleZoomKey(const QKeyEvent& event, const QWindow* target);

signals:
    void chromeHeightChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isFree() const;
    QMargins frame() const;
    void windowResized();
    void settleSoon();
    void settled();

    Clock& clock_;
    QPointer<QWindow> window_;
    QMetaObject::Connection widthConnection_, heightConnection_, visibleConnection_;
    int chromeHeight_ = 0;
    bool watchingKeys_ = false;
    Clock::TimerId settleTimer_ = 0;
    std::optional<QSize> lastRequested_;
    // Kept open: a live resize stores many factors, and the settings object
    // writes the last one to disk from the event loop rather than each one.
    std::unique_ptr<QSettings> settings_;
};

} // namespace corvane

#include "ui/InterfaceScale.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Without a screen to fit on (none yet, or a platform that reports none) a
// factor still needs a bound: a window tens of thousands of pixels wide is
// broken however it came about.
constexpr double kFactorWithoutScreen = 4.0;

int roundedLength(double length) {
    return static_cast<int>(std::lround(length)); // halves away from zero
}

} // namespace

InterfaceScale::InterfaceScale(Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock), settings_(std::make_unique<QSettings>()) {}

InterfaceScale::~InterfaceScale() {
    if (settleTimer_)
        clock_.cancelTimer(settleTimer_);
}

std::optional<double> InterfaceScale::stepUp(double current) {
    for (double step : kZoomSteps)
        if (step > current + kStepTolerance)
            return step;
    return std::nullopt;
}

std::optional<double> InterfaceScale::stepDown(double current) {
    for (auto it = kZoomSteps.rbegin(); it != kZoomSteps.rend(); ++it)
        if (*it < current - kStepTolerance)
            return *it;
    return std::nullopt;
}

double InterfaceScale::restoredFactor(const QVariant& stored) {
    bool ok = false;
    const double value = stored.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0)
        return 1.0;
    return std::max(kMinimumFactor, value);
}

double InterfaceScale::storedFactor() {
    return restoredFactor(QSettings().value(kSettingsKey));
}

QSize InterfaceScale::contentSizeFor(double factor, QMargins frame, QRect available) {
    double s = std::isfinite(factor) ? std::max(kMinimumFactor, factor) : 1.0;
    if (available.isValid()) {
        const double fitsWidth = double(available.width() - frame.left() - frame.right()) / kDesignWidth;
        const double fitsHeight = double(available.height() - frame.top() - frame.bottom()) / kDesignHeight;
        // On a screen too small even for the minimum, the factor goes below it.
        s = std::min({s, fitsWidth, fitsHeight});
    } else {
        s = std::min(s, kFactorWithoutScreen);
    }
    s = std::max(s, 0.01);
    return {roundedLength(kDesignWidth * s), roundedLength(kDesignHeight * s)};
}

QSize InterfaceScale::defaultContentSize() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return contentSizeFor(storedFactor(), QMargins(0, chromeHeight_, 0, 0),
                          screen ? screen->availableGeometry() : QRect());
}

void InterfaceScale::setChromeHeight(int height) {
    if (height == chromeHeight_)
        return;
    chromeHeight_ = height;
    emit chromeHeightChanged();
    // The bars take their height once laid out: the content keeps its size.
    if (window_)
        applyScale(factor());
}

double InterfaceScale::factor() const {
    return window_ ? double(window_->width()) / kDesignWidth : 0.0;
}

bool InterfaceScale::isFree() const {
    // Full screen and maximized sizes are the screen's, not the user's zoom.
    return window_ && !(window_->windowStates() & (Qt::WindowFullScreen | Qt::WindowMaximized));
}

QMargins InterfaceScale::frame() const {
    // The window manager's frame (on X11 known once the window is mapped)
    // plus our own bars above the content.
    return window_->frameMargins() + QMargins(0, chromeHeight_, 0, 0);
}

void InterfaceScale::configureWindow(QWindow* window) {
    if (!window || window == window_)
        return;
    if (window_) {
        disconnect(widthConnection_);
        disconnect(heightConnection_);
        disconnect(visibleConnection_);
    }
    window_ = window;
    lastRequested_.reset();
    widthConnection_ = connect(window, &QWindow::widthChanged, this, &InterfaceScale::windowResized);
    heightConnection_ = connect(window, &QWindow::heightChanged, this, &InterfaceScale::windowResized);
    // The window manager's frame is known only once the window is shown (on
    // X11 a moment after): fit the window to its screen again then.
    visibleConnection_ = connect(window, &QWindow::visibleChanged, this, [this](bool visible) {
        if (visible)
            settleSoon();
    });
    // The keys are watched for the whole application, ahead of the windows'
    // own handling: a sheet that takes the keyboard (a modal picker with its
    // search field) must not swallow them.
    if (!watchingKeys_) {
        QGuiApplication::instance()->installEventFilter(this);
        watchingKeys_ = true;
    }
    applyScale(storedFactor());
}

bool InterfaceScale::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWindowType())
        return false;
    return handleZoomKey(*static_cast<QKeyEvent*>(event), static_cast<QWindow*>(watched));
}

bool InterfaceScale::handleZoomKey(const QKeyEvent& event, const QWindow* target) {
    const auto held = event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (held != Qt::ControlModifier || !window_)
        return false;
    if (target != window_ && (!target || target->transientParent() != window_))
        return false;
    switch (event.key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomIn();
        return true;
    case Qt::Key_Minus:
        zoomOut();
        return true;
    case Qt::Key_0:
        actualSize();
        return true;
    default:
        return false;
    }
}

void InterfaceScale::zoomIn() {
    if (!window_)
        return;
    if (auto step = stepUp(factor()))
        applyScale(*step);
}

void InterfaceScale::zoomOut() {
    if (!window_)
        return;
    if (auto step = stepDown(factor()))
        applyScale(*step);
}

void InterfaceScale::actualSize() {
    applyScale(1.0);
}

void InterfaceScale::applyScale(double factor) {
    if (!isFree())
        return;
    const QScreen* screen = window_->screen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QMargins m = frame();
    const QSize content = contentSizeFor(factor, m, available);
    const QSize client(content.width(), content.height() + chromeHeight_);
    // The frame's top-left corner stays where it is, unless that would push
    // the window off its screen.
    const QRect current = window_->frameGeometry();
    int x = current.x();
    int y = current.y();
    const int frameWidth = client.width() + window_->frameMargins().left() + window_->frameMargins().right();
    const int frameHeight = client.height() + window_->frameMargins().top() + window_->frameMargins().bottom();
    if (available.isValid()) {
        x = std::max(available.left(), std::min(x, available.left() + available.width() - frameWidth));
        y = std::max(available.top(), std::min(y, available.top() + available.height() - frameHeight));
    }
    const QRect target(QPoint(x + window_->frameMargins().left(), y + window_->frameMargins().top()), client);
    if (target == window_->geometry())
        return;
    lastRequested_ = client;
    window_->setGeometry(target);
}

void InterfaceScale::windowResized() {
    QWindow* window = window_.data();
    if (!window || !isFree())
        return;
    settings_->setValue(kSettingsKey, factor());
    // Our own sizes already have the design's shape; a hand resize snaps to
    // it once the hand has let go (X11 has no aspect-ratio lock to ask for).
    if (lastRequested_ != window->size())
        settleSoon();
}

void InterfaceScale::settleSoon() {
    if (settleTimer_)
        clock_.cancelTimer(settleTimer_);
    settleTimer_ = clock_.callAt(clock_.now() + kSettleDelay, [this] { settled(); });
}

void InterfaceScale::settled() {
    settleTimer_ = 0;
    QWindow* window = window_.data();
    if (!window || !isFree())
        return;
    const QScreen* screen = window->screen();
    const QSize content = contentSizeFor(factor(), frame(), screen ? screen->availableGeometry() : QRect());
    const QSize client(content.width(), content.height() + chromeHeight_);
    // A window manager that keeps refusing the size (a tiling one) wins: asking
    // again and again would only make the window flicker.
    if (lastRequested_ == client && window->size() != client)
        return;
    applyScale(factor());
}

} // namespace corvane

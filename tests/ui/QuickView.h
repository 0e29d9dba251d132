#pragma once
// One view of the Corvane.Ui module in an offscreen window, for tests that
// look at what a user sees, press what a user presses, and photograph it.

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStringList>
#include <QVariantMap>

#include <memory>

namespace corvane::test {

class QuickView {
public:
    // `type` is a view of the module (ContentView, ChannelStripView, …),
    // created with `properties` and laid out at `size`.
    QuickView(const QString& type, const QVariantMap& properties, QSize size);
    ~QuickView();

    bool ok() const { return root_ != nullptr; }
    QString errors() const { return errors_; }
    QQuickItem* root() const { return root_; }
    QQuickWindow* window() const { return window_.get(); }
    QQmlEngine& engine() { return engine_; }
    // QML warnings seen so far (a binding to something undefined, …).
    const QStringList& warnings() const { return warnings_; }

    // The first item below the root whose objectName is `name`.
    QQuickItem* find(const QString& name) const;
    // Lets bindings, animations and rendering settle.
    void settle(int milliseconds = 50);
    // Writes the window to <build>/test-output/screenshots/<name>.png; the path, or "" on failure.
    QString screenshot(const QString& name);

private:
    QQmlEngine engine_;
    std::unique_ptr<QQuickWindow> window_;
    QQuickItem* root_ = nullptr;
    QString errors_;
    QStringList warnings_;
};

} // namespace corvane::test

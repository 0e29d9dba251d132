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
    // QML warnings seen so far (a binding to something undefined, …).
    const QStringList& warnings() const { return warnings_; }

    // The first item below the root whose objectName is `name`.
    QQuickItem* find(const QString& name) const;
    // Items named `name` anywhere in the window, pop-ups and list rows
    // included (they hang in the window's item tree, not below the view), in
    // drawing order; and the first of them under `item` (the window without one).
    QList<QQuickItem*> itemsNamed(const QString& name) const;
    static QQuickItem* findUnder(QQuickItem* item, const QString& name);
    QQuickItem* findAnywhere(const QString& name) const;
    // Presses `item` where a user would: in its middle, the pointer moved
    // there first; then lets the view settle, unless a test wants to see what
    // happens at once.
    void click(QQuickItem* item, bool settleAfter = true);
    // What a combo box offers, in order.
    static QStringList entriesOf(QQuickItem* comboBox);
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

#include "ui/MenuBarRest.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QQmlListReference>
#include <QQuickWindow>

namespace corvane {

namespace {

QList<QObject*> menusOf(QQuickItem* bar) {
    QList<QObject*> menus;
    const QQmlListReference list(bar, "menus");
    for (qsizetype i = 0; i < list.count(); ++i)
        if (QObject* menu = list.at(i))
            menus << menu;
    return menus;
}

void press(QQuickItem* bar, Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QGuiApplication::sendEvent(bar, &event);
}

} // namespace

MenuBarRest::MenuBarRest(QObject* parent) : QObject(parent) {}

void MenuBarRest::setMenuBar(QQuickItem* bar) {
    if (bar == bar_)
        return;
    if (bar_)
        disconnect(menusConnection_);
    bar_ = bar;
    if (bar_)
        menusConnection_ = connect(bar_, SIGNAL(menusChanged()), this, SLOT(followMenus()));
    followMenus();
    emit menuBarChanged();
}

void MenuBarRest::followMenus() {
    for (const auto& connection : std::as_const(closedConnections_))
        disconnect(connection);
    closedConnections_.clear();
    // A press closed it (on its own title, say): the click that follows is the
    // bar's to handle, and resting now would let that click open it again.
    if (!bar_ || QGuiApplication::mouseButtons() != Qt::NoButton)
        return;
    const auto menus = menusOf(bar_);
    for (QObject* menu : menus)
        closedConnections_ << connect(menu, SIGNAL(closed()), this, SLOT(restUnlessAMenuIsOpen()),
                                          Qt::QueuedConnection);
}

void MenuBarRest::restUnlessAMenuIsOpen() {
    // A press closed it (on its own title, say): the click that follows is the
    // bar's to handle, and resting now would let that click open it again.
    if (!bar_ || QGuiApplication::mouseButtons() != Qt::NoButton)
        return;
    const auto menus = menusOf(bar_);
    for (QObject* menu : menus)
        if (menu->property("visible").toBool())
            return;
    // The keys take the keyboard to the bar and then drop it: it goes back
    // to the control that had it, so Tab goes on from there.
    QPointer<QQuickItem> kept = bar_->window() ? bar_->window()->activeFocusItem() : nullptr;
    if (kept && (kept == bar_ || bar_->isAncestorOf(kept)))
        kept = nullptr;
    const QVariant reason = kept ? kept->property("focusReason") : QVariant();
    // What the bar does with its own keys, and all Qt 6.4 offers to leave the
    // mode: Up ends it (no menu to show), Escape puts out the title. On a
    // bar already at rest both do nothing.
    press(bar_, Qt::Key_Up);
    press(bar_, Qt::Key_Escape);
    if (kept && !kept->hasActiveFocus())
        kept->forceActiveFocus(reason.isValid() ? static_cast<Qt::FocusReason>(reason.toInt()) : Qt::OtherFocusReason);
}

} // namespace corvane

#pragma once
// Brings the window's menu bar back to rest once its menus are closed: no
// title lit, and passing over a title opens nothing. Qt 6.4's bar keeps its
// menus-open mode when a menu closes while the pointer rests on its title
// (Escape pressed there): the title stays lit until another one is clicked,
// and merely crossing another title opens that menu.
//
// Main thread only.

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace corvane {

class MenuBarRest : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // The MenuBar to watch.
    Q_PROPERTY(QQuickItem* menuBar READ menuBar WRITE setMenuBar NOTIFY menuBarChanged)

public:
    explicit MenuBarRest(QObject* parent = nullptr);

    QQuickItem* menuBar() const { return bar_; }
    void setMenuBar(QQuickItem* bar);

signals:
    void menuBarChanged();

private slots:
    void followMenus();
    // A closing menu may be giving way to another title's (the pointer moved
    // along the bar): the bar rests only if no menu is open once that settled.
    void restUnlessAMenuIsOpen();

private:
    QPointer<QQuickItem> bar_;
    QMetaObject::Connection menusConnection_;
    QList<QMetaObject::Connection> closedConnections_;
};

} // namespace corvane

#include "tests/ui/QuickView.h"

#include "ui/CorvaneApp.h"

#include <QDir>
#include <QElapsedTimer>
#include <QQmlComponent>
#include <QTest>

namespace corvane::test {

QuickView::QuickView(const QString& type, const QVariantMap& properties, QSize size)
    : window_(std::make_unique<QQuickWindow>()) {
    prepareQmlEngine(engine_);
    QObject::connect(&engine_, &QQmlEngine::warnings, [this](const QList<QQmlError>& list) {
        for (const auto& warning : list)
            warnings_ << warning.toString();
    });
    QQmlComponent component(&engine_);
    component.setData(QStringLiteral("import Corvane.Ui\n%1 {}\n").arg(type).toUtf8(), QUrl());
    // Qt 6.4 crashes creating a component that failed to compile.
    if (component.isError()) {
        errors_ = component.errorString();
        return;
    }
    QObject* object = component.createWithInitialProperties(properties);
    root_ = qobject_cast<QQuickItem*>(object);
    if (!root_) {
        errors_ = component.errorString();
        delete object;
        return;
    }
    root_->setParentItem(window_->contentItem());
    root_->setSize(size);
    window_->resize(size);
    window_->show();
    settle();
}

QuickView::~QuickView() {
    delete root_;
    window_.reset();
}

QQuickItem* QuickView::find(const QString& name) const {
    return root_ ? root_->findChild<QQuickItem*>(name) : nullptr;
}

namespace {
void collect(QQuickItem* item, const QString& name, QList<QQuickItem*>& found) {
    if (item->objectName() == name)
        found << item;
    const auto children = item->childItems();
    for (QQuickItem* child : children)
        collect(child, name, found);
}
} // namespace

QList<QQuickItem*> QuickView::itemsNamed(const QString& name) const {
    QList<QQuickItem*> found;
    collect(window_->contentItem(), name, found);
    return found;
}

QQuickItem* QuickView::findUnder(QQuickItem* item, const QString& name) {
    if (!item)
        return nullptr;
    QList<QQuickItem*> found;
    collect(item, name, found);
    return found.isEmpty() ? nullptr : found.first();
}

QQuickItem* QuickView::findAnywhere(const QString& name) const { return findUnder(window_->contentItem(), name); }

void QuickView::click(QQuickItem* item, bool settleAfter) {
    if (!item)
        return;
    const QPoint centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    QTest::mouseMove(window_.get(), centre);
    settle(20);
    QTest::mouseClick(window_.get(), Qt::LeftButton, {}, centre);
    if (settleAfter)
        settle();
}

QStringList QuickView::entriesOf(QQuickItem* comboBox) {
    QStringList list;
    const int count = comboBox ? comboBox->property("count").toInt() : 0;
    for (int i = 0; i < count; ++i) {
        QString text;
        QMetaObject::invokeMethod(comboBox, "textAt", Q_RETURN_ARG(QString, text), Q_ARG(int, i));
        list << text;
    }
    return list;
}

void QuickView::settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QTest::qWait(5);
}

QString QuickView::screenshot(const QString& name) {
    const QString folder = QStringLiteral(CORVANE_SCREENSHOT_DIR);
    if (!QDir().mkpath(folder))
        return {};
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    return window_->grabWindow().save(path) ? path : QString();
}

} // namespace corvane::test

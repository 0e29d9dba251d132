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

#pragma once
// The few line symbols of the channel strip and the plug-in picker, drawn in
// any colour: "waveform.badge.magnifyingglass", "chevron.down",
// "gearshape.fill", "xmark.circle", "magnifyingglass", "checkmark",
// "exclamationmark.triangle" (a plug-in that crashed) and "spinner" (an open
// ring for a busy indicator). Paths lie on a 24 × 24 grid
// fitted, centred, into the item.
//
// One painted item per symbol, painted again only when its name, colour, size
// or zoom changes: the scene keeps one small picture per icon, which every
// renderer draws cheaply (the software one included, which walks the whole
// scene on every frame while meters move). `renderScale` is the zoom the item
// is shown at, so the picture is painted sharp when an ancestor scales it up.
//
// Main thread only.

#include <QColor>
#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <memory>

class QSvgRenderer;

namespace corvane {

class StripIcon : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(qreal renderScale READ renderScale WRITE setRenderScale NOTIFY renderScaleChanged)
    // False for a name that is not one of the symbols (drawn as nothing).
    Q_PROPERTY(bool known READ known NOTIFY nameChanged)

public:
    explicit StripIcon(QQuickItem* parent = nullptr);
    ~StripIcon() override;

    QString name() const { return name_; }
    QColor color() const { return color_; }
    qreal renderScale() const { return renderScale_; }
    bool known() const;
    void setName(const QString& name);
    void setColor(const QColor& color);
    void setRenderScale(qreal scale);

    void paint(QPainter* painter) override;

    // The symbol as an SVG document in `color`, on a 24 × 24 view box; empty
    // for an unknown name.
    static QByteArray svgDocument(const QString& name, const QColor& color);

signals:
    void nameChanged();
    void colorChanged();
    void renderScaleChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;

private:
    void rebuild();
    void resizeTexture();

    QString name_;
    QColor color_{Qt::white};
    qreal renderScale_ = 1.0;
    std::unique_ptr<QSvgRenderer> renderer_;
};

} // namespace corvane

#include "ui/StripIcon.h"

#include <QPainter>
#include <QQuickWindow>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane {

namespace {

struct Symbol {
    const char* name;
    double strokeWidth; // 0: filled (even-odd) instead of stroked
    const char* path;   // empty: computed (the gear)
};

constexpr Symbol kSymbols[] = {
    {"waveform.badge.magnifyingglass", 2,
     "M2.5 10 V14 M6 6 V18 M9.5 2.5 V21.5 M13 7.5 V11 "
     "M20.6 15 A3.6 3.6 0 1 1 13.4 15 A3.6 3.6 0 1 1 20.6 15 M19.6 17.6 L22 20"},
    {"chevron.down", 2.8, "M5.5 9 L12 15.5 L18.5 9"},
    {"gearshape.fill", 0, ""},
    {"xmark.circle", 1.8,
     "M21.6 12 A9.6 9.6 0 1 1 2.4 12 A9.6 9.6 0 1 1 21.6 12 M8.6 8.6 L15.4 15.4 M15.4 8.6 L8.6 15.4"},
    {"magnifyingglass", 2.2, "M17.3 10.5 A6.8 6.8 0 1 1 3.7 10.5 A6.8 6.8 0 1 1 17.3 10.5 M15.5 15.5 L21 21"},
    {"checkmark", 2.6, "M4.5 12.5 L9.5 18 L19.5 5.5"},
    {"spinner", 2.6, "M21 12 A9 9 0 1 1 12 3"},
    {"exclamationmark.triangle", 2, "M12 3 L22 20.5 L2 20.5 Z M12 9.5 V14.5 M12 17.6 V17.7"},
};

const Symbol* findSymbol(const QString& name) {
    for (const Symbol& s : kSymbols)
        if (name == QLatin1String(s.name))
            return &s;
    return nullptr;
}

// Eight teeth around a ring, with a round hole.
QString gearPath() {
    constexpr int teeth = 8;
    constexpr double outer = 11, root = 8.4, hole = 3.4;
    auto at = [](double r, double a) {
        return QString::number(12 + r * std::cos(a), 'f', 3) + ' ' + QString::number(12 + r * std::sin(a), 'f', 3);
    };
    QString d;
    for (int i = 0; i < teeth; ++i) {
        const double a = i * 2 * std::numbers::pi / teeth;
        d += (i == 0 ? "M" : " L") + at(root, a - 0.30) + " L" + at(outer, a - 0.17) + " L" + at(outer, a + 0.17) +
             " L" + at(root, a + 0.30) + QStringLiteral(" A%1 %1 0 0 1 ").arg(root) +
             at(root, a + 2 * std::numbers::pi / teeth - 0.30);
    }
    d += QStringLiteral(" Z M%1 12 A%2 %2 0 1 0 %3 12 A%2 %2 0 1 0 %1 12 Z").arg(12 + hole).arg(hole).arg(12 - hole);
    return d;
}

} // namespace

StripIcon::StripIcon(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    setImplicitSize(16, 16);
}

StripIcon::~StripIcon() = default;

bool StripIcon::known() const { return findSymbol(name_) != nullptr; }

QByteArray StripIcon::svgDocument(const QString& name, const QColor& color) {
    const Symbol* symbol = findSymbol(name);
    if (!symbol)
        return {};
    const QString rgb = color.name(QColor::HexRgb);
    const QString alpha = QString::number(color.alphaF(), 'f', 3);
    QString shape;
    if (symbol->strokeWidth > 0)
        shape = QStringLiteral("<path d=\"%1\" fill=\"none\" stroke=\"%2\" stroke-opacity=\"%3\" stroke-width=\"%4\" "
                               "stroke-linecap=\"round\" stroke-linejoin=\"round\"/>")
                    .arg(QLatin1String(symbol->path), rgb, alpha)
                    .arg(symbol->strokeWidth);
    else
        shape = QStringLiteral("<path d=\"%1\" fill=\"%2\" fill-opacity=\"%3\" fill-rule=\"evenodd\"/>")
                    .arg(gearPath(), rgb, alpha);
    return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\" width=\"24\" "
                          "height=\"24\">%1</svg>")
        .arg(shape)
        .toUtf8();
}

void StripIcon::setName(const QString& name) {
    if (name == name_)
        return;
    name_ = name;
    rebuild();
    emit nameChanged();
}

void StripIcon::setColor(const QColor& color) {
    if (color == color_)
        return;
    color_ = color;
    rebuild();
    emit colorChanged();
}

void StripIcon::setRenderScale(qreal scale) {
    if (!(scale > 0) || scale == renderScale_)
        return;
    renderScale_ = scale;
    resizeTexture();
    emit renderScaleChanged();
}

void StripIcon::rebuild() {
    const QByteArray svg = svgDocument(name_, color_);
    renderer_.reset(svg.isEmpty() ? nullptr : new QSvgRenderer(svg));
    update();
}

void StripIcon::resizeTexture() {
    // Painted at the zoom it is seen at (never below the item's own size), in
    // device pixels; painting stays in item coordinates, Qt scales the painter.
    const qreal dpr = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const qreal s = std::max<qreal>(renderScale_, 1.0) * dpr;
    setTextureSize(QSize(int(std::ceil(width() * s)), int(std::ceil(height() * s))));
    update();
}

void StripIcon::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        resizeTexture();
}

void StripIcon::itemChange(ItemChange change, const ItemChangeData& value) {
    QQuickPaintedItem::itemChange(change, value);
    if (change == ItemSceneChange || change == ItemDevicePixelRatioHasChanged)
        resizeTexture();
}

void StripIcon::paint(QPainter* painter) {
    if (!renderer_ || !renderer_->isValid())
        return;
    const qreal side = std::min(width(), height());
    renderer_->render(painter, QRectF((width() - side) / 2, (height() - side) / 2, side, side));
}

} // namespace corvane

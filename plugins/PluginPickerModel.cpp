#include "plugins/PluginPickerModel.h"

#include "plugins/PluginCatalog.h"

#include <QPointer>

namespace corvane {

PluginPickerModel::PluginPickerModel(QObject* parent) : PluginPickerModel(&PluginCatalog::components, parent) {}

PluginPickerModel::PluginPickerModel(Source source, QObject* parent) : QAbstractListModel(parent) {
    rebuild();
    QPointer<PluginPickerModel> self(this);
    // A list already cached arrives before this returns.
    loadTask_ = spawnWith([this, self, source = std::move(source)]() -> Async<void> {
        QList<PluginComponent> list = co_await source();
        if (co_await currentTaskCancelled() || !self)
            co_return;
        all_ = std::move(list);
        loading_ = false;
        rebuild();
        emit loadingChanged();
    });
}

PluginPickerModel::~PluginPickerModel() { loadTask_.cancel(); }

void PluginPickerModel::setFilterText(const QString& text) {
    if (text == filterText_)
        return;
    filterText_ = text;
    rebuild();
    emit filterTextChanged();
}

void PluginPickerModel::rebuild() {
    beginResetModel();
    rows_.clear();
    rows_.append({Kind::None, {}, {}});
    if (loading_)
        rows_.append({Kind::Loading, {}, {}});
    for (const auto& group : PluginCatalog::groups(PluginCatalog::filter(all_, filterText_)))
        for (const auto& component : group.components)
            rows_.append({Kind::Plugin, component, group.manufacturer});
    endResetModel();
}

int PluginPickerModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant PluginPickerModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = rows_[index.row()];
    switch (role) {
    case KindRole:
        switch (row.kind) {
        case Kind::None:
            return QStringLiteral("none");
        case Kind::Loading:
            return QStringLiteral("loading");
        case Kind::Plugin:
            return QStringLiteral("plugin");
        }
        return {};
    case Qt::DisplayRole:
    case NameRole:
        switch (row.kind) {
        case Kind::None:
            return QStringLiteral("No Plugin (direct passthrough)");
        case Kind::Loading:
            return QStringLiteral("Scanning installed plugins…");
        case Kind::Plugin:
            return row.component.name;
        }
        return {};
    case ManufacturerRole:
        return row.manufacturer;
    case UriRole:
        return row.component.uri;
    case ComponentRole:
        return QVariant::fromValue(row.component);
    default:
        return {};
    }
}

QHash<int, QByteArray> PluginPickerModel::roleNames() const {
    return {{KindRole, "kind"},
            {NameRole, "name"},
            {ManufacturerRole, "manufacturer"},
            {UriRole, "uri"},
            {ComponentRole, "component"}};
}

} // namespace corvane

#pragma once
// The rows of the plug-in picker: the fixed "No Plugin (direct passthrough)"
// row, a "Scanning installed plugins…" row while the catalog has not delivered,
// then the catalog's effects filtered by filterText, grouped by manufacturer
// (the manufacturer role is the section) in the catalog's group order.
//
// Main thread only. The list is fetched once, by a task that starts with the
// model and is cancelled with it; a picker shown again makes a new model (the
// catalog's cached scan makes that immediate).

#include "platform/system/Task.h"
#include "plugins/PluginComponent.h"

#include <QAbstractListModel>
#include <QList>
#include <QString>

#include <functional>

namespace corvane {

class PluginPickerModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(QString filterText READ filterText WRITE setFilterText NOTIFY filterTextChanged)

public:
    enum Role {
        KindRole = Qt::UserRole + 1, // "none", "loading" or "plugin"
        NameRole,                    // what the row reads
        ManufacturerRole,            // the section: "Unknown Manufacturer" for none; empty on fixed rows
        UriRole,                     // empty on fixed rows
        ComponentRole,               // what choosing the row writes into a strip (empty uri: none)
    };

    using Source = std::function<Async<QList<PluginComponent>>()>;

    // Rows from PluginCatalog::components().
    explicit PluginPickerModel(QObject* parent = nullptr);
    // Rows from `source`, awaited once.
    explicit PluginPickerModel(Source source, QObject* parent = nullptr);
    ~PluginPickerModel() override;

    bool loading() const { return loading_; }
    const QString& filterText() const { return filterText_; }
    void setFilterText(const QString& text);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void loadingChanged();
    void filterTextChanged();

private:
    enum class Kind { None, Loading, Plugin };
    struct Row {
        Kind kind;
        PluginComponent component;
        QString manufacturer;
    };

    void rebuild();

    bool loading_ = true;
    QString filterText_;
    QList<PluginComponent> all_;
    QList<Row> rows_;
    Task loadTask_;
};

} // namespace corvane

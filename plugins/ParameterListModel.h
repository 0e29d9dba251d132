#pragma once
// The rows of the generic editor: one per control port of a plug-in, inputs
// (expert ones included) that the user changes and outputs that are only
// shown. Main thread. Values go to the plug-in through its lock-free
// parameter slots and reach the render thread in the next period.

#include "platform/lv2/Parameter.h"
#include "plugins/EffectHandle.h"

#include <QAbstractListModel>
#include <QStringList>
#include <QVariantList>

namespace corvane {

class ParameterListModel : public QAbstractListModel {
    Q_OBJECT
public:
    // How a row is edited.
    enum class Kind { Toggle, List, Integer, Slider, ReadOnly };
    Q_ENUM(Kind)
    enum Role {
        NameRole = Qt::UserRole + 1,
        KindRole,     // Kind, as an int
        ValueRole,    // the plug-in's value
        PositionRole, // 0…1 along the slider (logarithmic ports on a log scale)
        TextRole,     // the value as shown, with its unit
        ChoicesRole,  // labels of a List row
        ChoiceRole,   // index of the current choice, -1 when the value has no label
        MinimumRole,
        MaximumRole,
        SymbolRole, // the port's symbol, which names it in mappings and setups
    };

    explicit ParameterListModel(QObject* parent = nullptr);

    // Shows the controls of `effect` (none for a null handle).
    void setEffect(const EffectHandle& effect);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE void setValue(int row, double value);
    Q_INVOKABLE void setPosition(int row, double position);
    Q_INVOKABLE void setChoice(int row, int choice);
    // Reads every value again (outputs move on their own, presets change
    // inputs) and tells the views about rows that changed.
    Q_INVOKABLE void refresh();

    // Pure helpers, public for their tests: slider position of a value and back.
    static double positionOf(double value, double minimum, double maximum, bool logarithmic);
    static double valueAt(double position, double minimum, double maximum, bool logarithmic);
    static QString format(double value, bool integer, const QString& unit);

private:
    struct Row {
        lv2::Parameter parameter;
        Kind kind = Kind::Slider;
        float value = 0.0f;
    };
    const Row* rowAt(int row) const;

    EffectHandle effect_;
    QList<Row> rows_;
};

} // namespace corvane

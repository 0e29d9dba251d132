#include "plugins/ParameterListModel.h"

#include "platform/lv2/HostedEffect.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

ParameterListModel::Kind kindOf(const lv2::Parameter& p) {
    using Kind = ParameterListModel::Kind;
    if (!p.isInput)
        return Kind::ReadOnly;
    if (p.toggled)
        return Kind::Toggle;
    if (!p.scalePoints.empty())
        return Kind::List;
    if (p.integer || p.enumeration)
        return Kind::Integer;
    return Kind::Slider;
}

} // namespace

ParameterListModel::ParameterListModel(QObject* parent) : QAbstractListModel(parent) {}

void ParameterListModel::setEffect(const EffectHandle& effect) {
    beginResetModel();
    effect_ = effect;
    rows_.clear();
    if (const lv2::HostedEffect* e = effect_.hosted())
        for (const lv2::Parameter& p : e->parameters())
            rows_.append(Row{p, kindOf(p), e->parameter(p.portIndex)});
    endResetModel();
}

int ParameterListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

const ParameterListModel::Row* ParameterListModel::rowAt(int row) const {
    return row >= 0 && row < rows_.size() ? &rows_[row] : nullptr;
}

double ParameterListModel::positionOf(double value, double minimum, double maximum, bool logarithmic) {
    if (!(maximum > minimum))
        return 0.0;
    double position = logarithmic && minimum > 0.0 ? std::log(value / minimum) / std::log(maximum / minimum)
                                                   : (value - minimum) / (maximum - minimum);
    return std::isfinite(position) ? std::clamp(position, 0.0, 1.0) : 0.0;
}

double ParameterListModel::valueAt(double position, double minimum, double maximum, bool logarithmic) {
    position = std::clamp(position, 0.0, 1.0);
    // A logarithmic range must stay on one side of zero to have a log scale.
    if (logarithmic && minimum > 0.0 && maximum > minimum)
        return minimum * std::pow(maximum / minimum, position);
    return minimum + position * (maximum - minimum);
}

QString ParameterListModel::format(double value, bool integer, const QString& unit) {
    const QString number = integer ? QString::number(std::lround(value))
                                   : QString::number(value, 'g', std::abs(value) >= 1000 ? 6 : 3);
    return unit.isEmpty() ? number : number + QLatin1Char(' ') + unit;
}

QVariant ParameterListModel::data(const QModelIndex& index, int role) const {
    const Row* r = rowAt(index.row());
    if (!r || index.parent().isValid())
        return {};
    const lv2::Parameter& p = r->parameter;
    switch (role) {
    case Qt::DisplayRole:
    case NameRole:
        return QString::fromStdString(p.name);
    case KindRole:
        return int(r->kind);
    case ValueRole:
        return double(r->value);
    case PositionRole:
        return positionOf(r->value, p.minimum, p.maximum, p.logarithmic);
    case TextRole: {
        for (const lv2::ScalePoint& s : p.scalePoints)
            if (s.value == r->value)
                return QString::fromStdString(s.label);
        if (p.toggled)
            return r->value > 0.0f ? QStringLiteral("On") : QStringLiteral("Off");
        return format(r->value, p.integer || p.enumeration, QString::fromStdString(p.unit));
    }
    case ChoicesRole: {
        QStringList labels;
        for (const lv2::ScalePoint& s : p.scalePoints)
            labels << QString::fromStdString(s.label);
        return labels;
    }
    case ChoiceRole:
        for (std::size_t i = 0; i < p.scalePoints.size(); ++i)
            if (p.scalePoints[i].value == r->value)
                return int(i);
        return -1;
    case MinimumRole:
        return double(p.minimum);
    case MaximumRole:
        return double(p.maximum);
    case SymbolRole:
        return QString::fromStdString(p.symbol);
    default:
        return {};
    }
}

QHash<int, QByteArray> ParameterListModel::roleNames() const {
    return {{NameRole, "name"},       {KindRole, "kind"},       {ValueRole, "value"},
            {PositionRole, "position"}, {TextRole, "text"},     {ChoicesRole, "choices"},
            {ChoiceRole, "choice"},     {MinimumRole, "minimum"}, {MaximumRole, "maximum"},
            {SymbolRole, "symbol"}};
}

void ParameterListModel::setValue(int row, double value) {
    const Row* r = rowAt(row);
    lv2::HostedEffect* e = effect_.hosted();
    if (!r || !e || r->kind == Kind::ReadOnly)
        return;
    if (r->parameter.integer || r->parameter.enumeration)
        value = std::round(value);
    if (r->kind == Kind::Toggle)
        value = value > 0.0 ? r->parameter.maximum : r->parameter.minimum;
    if (e->setParameter(r->parameter.portIndex, static_cast<float>(value)))
        refresh();
}

void ParameterListModel::setPosition(int row, double position) {
    if (const Row* r = rowAt(row))
        setValue(row, valueAt(position, r->parameter.minimum, r->parameter.maximum, r->parameter.logarithmic));
}

void ParameterListModel::setChoice(int row, int choice) {
    const Row* r = rowAt(row);
    if (r && choice >= 0 && std::size_t(choice) < r->parameter.scalePoints.size())
        setValue(row, r->parameter.scalePoints[std::size_t(choice)].value);
}

void ParameterListModel::refresh() {
    const lv2::HostedEffect* e = effect_.hosted();
    if (!e)
        return;
    for (int i = 0; i < rows_.size(); ++i) {
        const float v = e->parameter(rows_[i].parameter.portIndex);
        if (v != rows_[i].value && !(std::isnan(v) && std::isnan(rows_[i].value))) {
            rows_[i].value = v;
            emit dataChanged(index(i), index(i), {ValueRole, PositionRole, TextRole, ChoiceRole});
        }
    }
}

} // namespace corvane

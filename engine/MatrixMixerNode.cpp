#include "engine/MatrixMixerNode.h"

#include <QLocale>
#include <cmath>

namespace corvane {

using engine::Direction;
using engine::ParameterScope;

MatrixMixerNode::MatrixMixerNode() : unit_(std::make_shared<engine::MatrixMixerUnit>()) {}

QString MatrixMixerNode::rateText(double sampleRate) {
    if (std::isfinite(sampleRate) && sampleRate == std::trunc(sampleRate) && std::abs(sampleRate) < 1e15)
        return QString::number(sampleRate, 'f', 1);
    return QString::number(sampleRate, 'g', QLocale::FloatingPointShortest);
}

std::optional<engine::Format> MatrixMixerNode::makeFormat(int channels, double sampleRate) {
    if (channels <= 0 || !(sampleRate > 0))
        return std::nullopt;
    return engine::Format{channels, sampleRate};
}

std::optional<QString> MatrixMixerNode::configure(const QList<int>& inputBusChannelCounts,
                                                  const QList<int>& outputBusChannelCounts, double sampleRate) {
    if (auto error = configureSide(Direction::Input, inputBusChannelCounts, sampleRate))
        return error;
    return configureSide(Direction::Output, outputBusChannelCounts, sampleRate);
}

std::optional<QString> MatrixMixerNode::configureSide(Direction direction, const QList<int>& counts,
                                                      double sampleRate) {
    const QString side = direction == Direction::Input ? QStringLiteral("Input") : QStringLiteral("Output");
    const QString lower = side.toLower();
    const int wanted = int(counts.size());
    const int current = unit_->busCount(direction);
    if (current != wanted) {
        if (!unit_->isBusCountChangeable(direction))
            return QStringLiteral("%1 bus count %2 is not supported (currently %3, not changeable).")
                .arg(side)
                .arg(wanted)
                .arg(current);
        std::string error;
        if (!unit_->setBusCount(direction, wanted, error))
            return QString::fromStdString(error);
    }
    for (int bus = 0; bus < wanted; ++bus) {
        const int channels = counts[bus];
        auto format = makeFormat(channels, sampleRate);
        if (!format)
            return QStringLiteral("Failed to create %1 format (%2 ch, %3 Hz).")
                .arg(lower)
                .arg(channels)
                .arg(rateText(sampleRate));
        std::string error;
        if (!unit_->setFormat(direction, bus, *format, error))
            return QStringLiteral("Setting %1 bus %2 format failed: %3").arg(lower).arg(bus).arg(QString::fromStdString(error));
    }
    return std::nullopt;
}

void MatrixMixerNode::setUnityVolumes(int inputChannels, int outputChannels) {
    for (int k = 0; k < inputChannels; ++k)
        unit_->setParameter(ParameterScope::Input, std::uint32_t(k), 1.0f);
    for (int k = 0; k < outputChannels; ++k)
        unit_->setParameter(ParameterScope::Output, std::uint32_t(k), 1.0f);
    unit_->setParameter(ParameterScope::Global, engine::kMasterVolumeElement, 1.0f);
}

void MatrixMixerNode::applyCrosspoints(const QList<RoutingPlan::Crosspoint>& crosspoints) {
    for (const auto& c : crosspoints)
        unit_->setParameter(ParameterScope::Global,
                            engine::crosspointElement(std::uint32_t(c.input), std::uint32_t(c.output)), c.gain);
}

} // namespace corvane

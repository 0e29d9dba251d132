#pragma once
// One channel strip: which device channels it takes and feeds, its effect and
// bypass, and the level readings the meters show. Main thread only; setters
// notify only on a real change. Editing a strip while running changes nothing
// until the next start; only bypass acts at once (AudioEngineManager::setBypass).
// The strip knows what the running graph was built from, so a view can say
// when what it shows is not yet what plays.

#include "engine/LevelStore.h"
#include "platform/engine/EffectUnit.h"
#include "plugins/EffectHandle.h"
#include "plugins/PluginComponent.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

namespace corvane {

namespace lv2 {
class HostedEffect;
}

class ChannelSlot : public QObject {
    Q_OBJECT
    Q_PROPERTY(int id READ id CONSTANT)
    // The chosen effect; one with an empty uri when none is chosen. Writing one
    // with an empty uri chooses none.
    Q_PROPERTY(corvane::PluginComponent component READ componentOrNone WRITE chooseComponent NOTIFY componentChanged)
    Q_PROPERTY(bool hasComponent READ hasComponent NOTIFY componentChanged)
    // The chosen effect is not installed (it came from a setup made where it was).
    Q_PROPERTY(bool componentMissing READ componentMissing NOTIFY componentMissingChanged)
    // Whether the chosen effect is loaded in a running graph.
    Q_PROPERTY(bool hasEffectNode READ hasEffectNode NOTIFY effectNodeChanged)
    // The loaded effect itself, for the editor window that shows it.
    Q_PROPERTY(corvane::EffectHandle effectNode READ effectHandle NOTIFY effectNodeChanged)
    // How the plug-in's own process ended while it played: "crashed" or
    // "stopped responding"; empty while it plays, and once its graph is gone.
    Q_PROPERTY(QString pluginFault READ pluginFault NOTIFY pluginFaultChanged)
    // Read-only here: switching it goes through AudioEngineManager::setBypass,
    // which also tells a loaded effect.
    Q_PROPERTY(bool bypass READ bypass NOTIFY bypassChanged)
    // Zero-based device channels, -1 for none; with stereo, the first of the pair.
    Q_PROPERTY(int inputChannel READ inputChannelIndex WRITE setInputChannelIndex NOTIFY inputChannelChanged)
    Q_PROPERTY(int outputChannel READ outputChannelIndex WRITE setOutputChannelIndex NOTIFY outputChannelChanged)
    Q_PROPERTY(bool inputStereo READ inputStereo WRITE setInputStereo NOTIFY inputStereoChanged)
    Q_PROPERTY(bool outputStereo READ outputStereo WRITE setOutputStereo NOTIFY outputStereoChanged)
    // The plug-in, channels or widths shown differ from those the running
    // graph was built from: they apply at the next start. False while stopped.
    Q_PROPERTY(bool pendingUntilStart READ pendingUntilStart NOTIFY pendingUntilStartChanged)
    // Updated by the manager's meter tick on the main thread.
    Q_PROPERTY(corvane::LevelReading inputLevel READ inputLevel NOTIFY inputLevelChanged)
    Q_PROPERTY(corvane::LevelReading inputLevelRight READ inputLevelRight NOTIFY inputLevelRightChanged)
    Q_PROPERTY(corvane::LevelReading outputLevel READ outputLevel NOTIFY outputLevelChanged)
    Q_PROPERTY(corvane::LevelReading outputLevelRight READ outputLevelRight NOTIFY outputLevelRightChanged)

public:
    using Reading = LevelStore::Reading;

    // What a graph is built from: a change to these waits for the next start
    // (bypass and the plug-in's parameters reach a running graph at once).
    struct StartChoices {
        QString pluginUri; // empty for none
        std::optional<int> inputChannel;
        std::optional<int> outputChannel;
        bool inputStereo = false;
        bool outputStereo = false;
        friend bool operator==(const StartChoices&, const StartChoices&) = default;
    };

    explicit ChannelSlot(int id, QObject* parent = nullptr);

    int id() const { return id_; }

    // The effect chosen for this strip; none means straight through. Choosing a
    // different effect forgets the saved settings of the old one.
    const std::optional<PluginComponent>& component() const { return component_; }
    void setComponent(std::optional<PluginComponent> component);
    PluginComponent componentOrNone() const { return component_.value_or(PluginComponent{}); }
    void chooseComponent(const PluginComponent& component);
    bool hasComponent() const { return component_.has_value(); }
    // Whether the chosen effect is known not to be installed; choosing
    // another one clears it.
    bool componentMissing() const { return componentMissing_; }
    void setComponentMissing(bool missing);

    // The loaded effect while a graph exists.
    const std::shared_ptr<engine::EffectUnit>& effectNode() const { return effectNode_; }
    void setEffectNode(std::shared_ptr<engine::EffectUnit> node);
    bool hasEffectNode() const { return effectNode_ != nullptr; }
    EffectHandle effectHandle() const { return EffectHandle{effectNode_}; }
    // The LV2 plug-in inside effectNode(), in our process or its own, or null.
    lv2::HostedEffect* effect() const;
    const QString& pluginFault() const { return pluginFault_; }
    // What the user is told of that fault, in one sentence; empty without one.
    QString pluginFaultMessage() const;
    void setPluginFault(const QString& fault);

    bool bypass() const { return bypass_; }
    // Only the flag; AudioEngineManager::setBypass also tells a live effect.
    void setBypassFlag(bool bypass);

    std::optional<int> inputChannel() const { return inputChannel_; }
    void setInputChannel(std::optional<int> channel);
    std::optional<int> outputChannel() const { return outputChannel_; }
    void setOutputChannel(std::optional<int> channel);
    int inputChannelIndex() const { return inputChannel_.value_or(-1); }
    void setInputChannelIndex(int channel);
    int outputChannelIndex() const { return outputChannel_.value_or(-1); }
    void setOutputChannelIndex(int channel);
    bool inputStereo() const { return inputStereo_; }
    void setInputStereo(bool stereo);
    bool outputStereo() const { return outputStereo_; }
    void setOutputStereo(bool stereo);

    StartChoices startChoices() const;
    // The choices the running graph was built from; none once it is gone.
    void setPlayingChoices(std::optional<StartChoices> playing);
    bool pendingUntilStart() const { return pendingUntilStart_; }

    Reading inputLevel() const { return inputLevel_; }
    Reading inputLevelRight() const { return inputLevelRight_; }
    Reading outputLevel() const { return outputLevel_; }
    Reading outputLevelRight() const { return outputLevelRight_; }
    void setInputLevel(Reading r);
    void setInputLevelRight(Reading r);
    void setOutputLevel(Reading r);
    void setOutputLevelRight(Reading r);

    // The effect's full state saved at the last stop; not observed by views.
    const std::optional<QByteArray>& lastPluginState() const { return lastPluginState_; }
    void setLastPluginState(std::optional<QByteArray> state) { lastPluginState_ = std::move(state); }
    // Settings given from outside (an opened setup) for the next build: they
    // win over those of the effect loaded now, which a stop would otherwise keep.
    void replacePluginState(std::optional<QByteArray> state);
    // Whether the saved settings were replaced, or the effect chosen anew,
    // while an effect was loaded; the stop that drops the effect clears it.
    bool stateReplacedWhileLoaded() const { return stateReplacedWhileLoaded_; }

signals:
    void componentChanged();
    void componentMissingChanged();
    void effectNodeChanged();
    void pluginFaultChanged();
    void bypassChanged();
    void inputChannelChanged();
    void outputChannelChanged();
    void inputStereoChanged();
    void outputStereoChanged();
    void pendingUntilStartChanged();
    void inputLevelChanged();
    void inputLevelRightChanged();
    void outputLevelChanged();
    void outputLevelRightChanged();

private:
    void updatePending();

    const int id_;
    std::optional<PluginComponent> component_;
    std::shared_ptr<engine::EffectUnit> effectNode_;
    QString pluginFault_;
    bool bypass_ = false;
    std::optional<int> inputChannel_;
    std::optional<int> outputChannel_;
    bool inputStereo_ = false;
    bool outputStereo_ = false;
    Reading inputLevel_;
    Reading inputLevelRight_;
    Reading outputLevel_;
    Reading outputLevelRight_;
    std::optional<QByteArray> lastPluginState_;
    bool stateReplacedWhileLoaded_ = false;
    bool componentMissing_ = false;
    std::optional<StartChoices> playing_;
    bool pendingUntilStart_ = false;
};

} // namespace corvane

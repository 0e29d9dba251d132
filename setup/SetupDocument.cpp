#include "setup/SetupDocument.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <set>

namespace corvane {

namespace {

const QString kFormat = QStringLiteral("format");
const QString kDevice = QStringLiteral("device");
const QString kUid = QStringLiteral("uid");
const QString kName = QStringLiteral("name");
const QString kSampleRate = QStringLiteral("sampleRate");
const QString kBufferFrames = QStringLiteral("bufferFrames");
const QString kStrips = QStringLiteral("strips");
const QString kStrip = QStringLiteral("strip");
const QString kInput = QStringLiteral("input");
const QString kInputStereo = QStringLiteral("inputStereo");
const QString kOutput = QStringLiteral("output");
const QString kOutputStereo = QStringLiteral("outputStereo");
const QString kBypass = QStringLiteral("bypass");
const QString kPlugin = QStringLiteral("plugin");
const QString kUri = QStringLiteral("uri");
const QString kState = QStringLiteral("state");
const QString kMidi = QStringLiteral("midi");
const QString kParameter = QStringLiteral("parameter");
const QString kSource = QStringLiteral("source");
const QString kNumber = QStringLiteral("number");
const QString kChannel = QStringLiteral("channel");
const QString kMode = QStringLiteral("mode");
const QString kInverted = QStringLiteral("inverted");
const QString kCc = QStringLiteral("cc");
const QString kNote = QStringLiteral("note");
const QString kLatching = QStringLiteral("latching");
const QString kMomentary = QStringLiteral("momentary");

// Thrown inside the reader only, and caught at its top: the first problem ends
// the reading, and nothing of the document has been used by then.
struct Problem {
    QString message;
};

void ignoreUnknown(const QJsonObject& object, const QStringList& known, const QString& where, QStringList& ignored) {
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!known.contains(it.key()))
            ignored.append(where.isEmpty() ? it.key() : where + QLatin1Char('.') + it.key());
}

QString stringAt(const QJsonObject& object, const QString& key, const QString& where, bool required) {
    const QJsonValue v = object.value(key);
    if (v.isUndefined() && !required)
        return {};
    if (!v.isString())
        throw Problem{QStringLiteral("%1: “%2” must be text").arg(where, key)};
    return v.toString();
}

bool flagAt(const QJsonObject& object, const QString& key, const QString& where) {
    const QJsonValue v = object.value(key);
    if (v.isUndefined())
        return false;
    if (!v.isBool())
        throw Problem{QStringLiteral("%1: “%2” must be true or false").arg(where, key)};
    return v.toBool();
}

// A whole number in [lo, hi], or none for null or a missing key.
std::optional<double> numberAt(const QJsonObject& object, const QString& key, const QString& where, double lo,
                               double hi, bool whole) {
    const QJsonValue v = object.value(key);
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    const double n = v.toDouble(std::nan(""));
    if (!v.isDouble() || !std::isfinite(n) || n < lo || n > hi || (whole && n != std::floor(n)))
        throw Problem{QStringLiteral("%1: “%2” must be %3 from %4 to %5")
                          .arg(where, key, whole ? QStringLiteral("a whole number") : QStringLiteral("a number"))
                          .arg(lo)
                          .arg(hi)};
    return n;
}

Setup::Strip readStrip(const QJsonObject& object, const QString& where, QStringList& ignored) {
    Setup::Strip strip;
    ignoreUnknown(object, {kStrip, kInput, kInputStereo, kOutput, kOutputStereo, kBypass, kPlugin}, where, ignored);
    if (auto in = numberAt(object, kInput, where, 1, Setup::kMaxChannel, true))
        strip.inputChannel = int(*in) - 1;
    if (auto out = numberAt(object, kOutput, where, 1, Setup::kMaxChannel, true))
        strip.outputChannel = int(*out) - 1;
    strip.inputStereo = flagAt(object, kInputStereo, where);
    strip.outputStereo = flagAt(object, kOutputStereo, where);
    strip.bypass = flagAt(object, kBypass, where);
    const QJsonValue plugin = object.value(kPlugin);
    if (!plugin.isUndefined() && !plugin.isNull()) {
        if (!plugin.isObject())
            throw Problem{QStringLiteral("%1: “plugin” must be an object with a “uri”").arg(where)};
        const QJsonObject p = plugin.toObject();
        const QString at = where + QStringLiteral(".plugin");
        ignoreUnknown(p, {kUri, kName, kState}, at, ignored);
        Setup::Plugin chosen;
        chosen.uri = stringAt(p, kUri, at, true);
        if (chosen.uri.isEmpty())
            throw Problem{QStringLiteral("%1: “uri” is empty").arg(at)};
        chosen.name = stringAt(p, kName, at, false);
        if (chosen.name.isEmpty())
            chosen.name = chosen.uri;
        if (const QJsonValue state = p.value(kState); !state.isUndefined() && !state.isNull())
            chosen.state = stringAt(p, kState, at, true).toUtf8();
        strip.plugin = chosen;
    }
    return strip;
}

MidiMapping readMapping(const QJsonObject& object, const QString& where, QStringList& ignored) {
    ignoreUnknown(object, {kStrip, kParameter, kSource, kNumber, kChannel, kMode, kInverted}, where, ignored);
    MidiMapping mapping;
    const auto strip = numberAt(object, kStrip, where, 1, Setup::kStripCount, true);
    if (!strip)
        throw Problem{QStringLiteral("%1: “strip” must be the strip's number, 1 to %2").arg(where).arg(Setup::kStripCount)};
    mapping.target.strip = int(*strip) - 1;
    if (const QJsonValue parameter = object.value(kParameter); !parameter.isUndefined() && !parameter.isNull())
        mapping.target.parameter = stringAt(object, kParameter, where, true);
    const QString source = stringAt(object, kSource, where, true);
    if (source != kCc && source != kNote)
        throw Problem{QStringLiteral("%1: “source” must be “cc” or “note”").arg(where)};
    mapping.source.kind = source == kNote ? MidiKind::Note : MidiKind::ControlChange;
    const auto number = numberAt(object, kNumber, where, 0, 127, true);
    if (!number)
        throw Problem{QStringLiteral("%1: “number” must be a whole number from 0 to 127").arg(where)};
    mapping.source.number = int(*number);
    mapping.source.channel = int(numberAt(object, kChannel, where, 1, 16, true).value_or(0));
    const QString mode = stringAt(object, kMode, where, false);
    if (!mode.isEmpty() && mode != kLatching && mode != kMomentary)
        throw Problem{QStringLiteral("%1: “mode” must be “latching” or “momentary”").arg(where)};
    mapping.mode = mode.isEmpty() ? defaultSwitchMode(mapping.source.kind)
                                  : mode == kMomentary ? SwitchMode::Momentary : SwitchMode::Latching;
    mapping.inverted = flagAt(object, kInverted, where);
    return mapping;
}

Setup readDocument(const QJsonObject& root, QStringList& ignored) {
    const QJsonValue format = root.value(kFormat);
    if (!format.isString())
        throw Problem{QStringLiteral("this is not a Corvane setup (it has no “format” version)")};
    // Anchored whole: "$" alone would let a newline follow.
    static const QRegularExpression version(
        QRegularExpression::anchoredPattern(QStringLiteral("([0-9]{1,6})\\.([0-9]{1,6})")));
    const auto match = version.match(format.toString());
    if (!match.hasMatch())
        throw Problem{QStringLiteral("“format” must be a version like “%1.%2”, not “%3”")
                          .arg(kSetupFormatMajor)
                          .arg(kSetupFormatMinor)
                          .arg(format.toString())};
    const int major = match.captured(1).toInt();
    if (major > kSetupFormatMajor)
        throw Problem{QStringLiteral("it was written by a newer Corvane (setup format %1); this one reads format %2 "
                                     "and older")
                          .arg(format.toString())
                          .arg(kSetupFormatMajor)};
    if (major < 1)
        throw Problem{QStringLiteral("setup format %1 does not exist").arg(format.toString())};

    ignoreUnknown(root, {kFormat, kDevice, kSampleRate, kBufferFrames, kStrips, kMidi}, {}, ignored);
    Setup setup;
    const QJsonValue device = root.value(kDevice);
    if (!device.isUndefined() && !device.isNull()) {
        if (!device.isObject())
            throw Problem{QStringLiteral("“device” must be an object with a “uid” and a “name”")};
        const QJsonObject d = device.toObject();
        ignoreUnknown(d, {kUid, kName}, kDevice, ignored);
        setup.deviceUid = stringAt(d, kUid, kDevice, false);
        setup.deviceName = stringAt(d, kName, kDevice, false);
    }
    // Whole Hz, as the command line's --rate takes it.
    setup.sampleRate = numberAt(root, kSampleRate, QStringLiteral("the setup"), Setup::kMinRate, Setup::kMaxRate, true);
    if (auto frames = numberAt(root, kBufferFrames, QStringLiteral("the setup"), Setup::kMinBufferFrames,
                               Setup::kMaxBufferFrames, true))
        setup.bufferFrames = std::uint32_t(*frames);

    const QJsonValue midi = root.value(kMidi);
    if (!midi.isUndefined() && !midi.isNull()) {
        if (!midi.isArray())
            throw Problem{QStringLiteral("“midi” must be a list")};
        int n = 0;
        for (const QJsonValue& entry : midi.toArray()) {
            const QString where = QStringLiteral("MIDI mapping %1").arg(++n);
            if (!entry.isObject())
                throw Problem{QStringLiteral("%1 must be an object").arg(where)};
            setup.midiMappings.append(readMapping(entry.toObject(), where, ignored));
        }
    }

    const QJsonValue strips = root.value(kStrips);
    if (strips.isUndefined() || strips.isNull())
        return setup;
    if (!strips.isArray())
        throw Problem{QStringLiteral("“strips” must be a list")};
    std::set<int> seen;
    for (const QJsonValue& entry : strips.toArray()) {
        if (!entry.isObject())
            throw Problem{QStringLiteral("every entry of “strips” must be an object")};
        const QJsonObject s = entry.toObject();
        const QJsonValue number = s.value(kStrip);
        const double n = number.toDouble(0);
        if (!number.isDouble() || n != std::floor(n) || n < 1 || n > Setup::kStripCount)
            throw Problem{QStringLiteral("a strip's “strip” must be its number, 1 to %1").arg(Setup::kStripCount)};
        if (!seen.insert(int(n)).second)
            throw Problem{QStringLiteral("strip %1 is given twice").arg(int(n))};
        setup.strips[std::size_t(n - 1)] = readStrip(s, QStringLiteral("strip %1").arg(int(n)), ignored);
    }
    return setup;
}

} // namespace

std::variant<ReadSetup, SetupReadError> parseSetup(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return SetupReadError{QStringLiteral("this is not a setup: the JSON is broken at byte %1 (%2)")
                                  .arg(error.offset)
                                  .arg(error.errorString())};
    if (!document.isObject())
        return SetupReadError{QStringLiteral("this is not a setup: it is not a JSON object")};
    ReadSetup read;
    try {
        read.setup = readDocument(document.object(), read.ignoredKeys);
    } catch (const Problem& problem) {
        return SetupReadError{problem.message};
    }
    return read;
}

QByteArray serializeSetup(const Setup& setup) {
    QJsonObject root;
    root[kFormat] = QStringLiteral("%1.%2").arg(kSetupFormatMajor).arg(kSetupFormatMinor);
    if (!setup.deviceUid.isEmpty() || !setup.deviceName.isEmpty())
        root[kDevice] = QJsonObject{{kUid, setup.deviceUid}, {kName, setup.deviceName}};
    else
        root[kDevice] = QJsonValue();
    root[kSampleRate] = setup.sampleRate ? QJsonValue(*setup.sampleRate) : QJsonValue();
    root[kBufferFrames] = setup.bufferFrames ? QJsonValue(qint64(*setup.bufferFrames)) : QJsonValue();
    QJsonArray strips;
    for (std::size_t i = 0; i < setup.strips.size(); ++i) {
        const Setup::Strip& s = setup.strips[i];
        QJsonObject entry;
        entry[kStrip] = int(i) + 1;
        entry[kInput] = s.inputChannel ? QJsonValue(*s.inputChannel + 1) : QJsonValue();
        entry[kInputStereo] = s.inputStereo;
        entry[kOutput] = s.outputChannel ? QJsonValue(*s.outputChannel + 1) : QJsonValue();
        entry[kOutputStereo] = s.outputStereo;
        entry[kBypass] = s.bypass;
        if (s.plugin) {
            QJsonObject plugin{{kUri, s.plugin->uri}, {kName, s.plugin->name}};
            plugin[kState] = s.plugin->state ? QJsonValue(QString::fromUtf8(*s.plugin->state)) : QJsonValue();
            entry[kPlugin] = plugin;
        } else {
            entry[kPlugin] = QJsonValue();
        }
        strips.append(entry);
    }
    root[kStrips] = strips;
    QJsonArray midi;
    for (const MidiMapping& m : setup.midiMappings)
        midi.append(QJsonObject{
            {kStrip, m.target.strip + 1},
            {kParameter, m.target.isStripSwitch() ? QJsonValue() : QJsonValue(m.target.parameter)},
            {kSource, m.source.kind == MidiKind::Note ? kNote : kCc},
            {kNumber, m.source.number},
            {kChannel, m.source.channel == 0 ? QJsonValue() : QJsonValue(m.source.channel)},
            {kMode, m.mode == SwitchMode::Momentary ? kMomentary : kLatching},
            {kInverted, m.inverted},
        });
    root[kMidi] = midi;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QStringList readingNotes(const ReadSetup& read) {
    if (read.ignoredKeys.isEmpty())
        return {};
    // A few by name, each cut short: the note shows above the strips, and a
    // damaged or foreign file may hold any number of them, of any length.
    constexpr qsizetype kNamed = 5;
    constexpr qsizetype kLongestName = 40;
    QStringList named;
    for (const QString& key : read.ignoredKeys.mid(0, kNamed))
        named.append(key.size() > kLongestName ? key.left(kLongestName) + QStringLiteral("…") : key);
    QString ignored = named.join(QStringLiteral(", "));
    if (const qsizetype more = read.ignoredKeys.size() - kNamed; more > 0)
        ignored += QStringLiteral(" … and %1 more").arg(QLocale(QLocale::English).toString(more));
    return {QStringLiteral("Entries this version does not know were ignored: %1.").arg(ignored)};
}

} // namespace corvane

#include "plugins/CatalogCache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <optional>

namespace corvane {

namespace {

// Raised whenever what a scan records about a plug-in changes meaning.
constexpr int kVersion = 1;
// A few hundred plug-ins take well under a megabyte.
constexpr qint64 kLargest = 16 * 1024 * 1024;
// Far beyond any plug-in's port count; more is a damaged file.
constexpr double kMostPorts = 65536;

QJsonObject toJson(const lv2::PluginDescription& d) {
    return {{"uri", QString::fromStdString(d.uri)},
            {"name", QString::fromStdString(d.name)},
            {"author", QString::fromStdString(d.author)},
            {"audioInputs", double(d.audioInputs)},
            {"audioOutputs", double(d.audioOutputs)},
            {"takesMidi", d.takesMidi},
            {"isEffect", d.isEffect}};
}

std::optional<std::uint32_t> portCount(const QJsonValue& v) {
    const double n = v.toDouble(-1);
    if (!v.isDouble() || n < 0 || n > kMostPorts || n != double(std::uint32_t(n)))
        return std::nullopt;
    return std::uint32_t(n);
}

std::optional<lv2::PluginDescription> pluginFrom(const QJsonValue& value) {
    const QJsonObject o = value.toObject();
    const auto in = portCount(o["audioInputs"]);
    const auto out = portCount(o["audioOutputs"]);
    if (!o["uri"].isString() || o["uri"].toString().isEmpty() || !o["name"].isString() || !o["author"].isString() ||
        !in || !out || !o["takesMidi"].isBool() || !o["isEffect"].isBool())
        return std::nullopt;
    lv2::PluginDescription d;
    d.uri = o["uri"].toString().toStdString();
    d.name = o["name"].toString().toStdString();
    d.author = o["author"].toString().toStdString();
    d.audioInputs = *in;
    d.audioOutputs = *out;
    d.takesMidi = o["takesMidi"].toBool();
    d.isEffect = o["isEffect"].toBool();
    return d;
}

std::optional<BundleCatalog> catalogFrom(const QJsonDocument& document) {
    const QJsonObject root = document.object();
    if (!document.isObject() || root["version"] != QJsonValue(kVersion) || !root["bundles"].isArray())
        return std::nullopt;
    BundleCatalog catalog;
    for (const QJsonValue& entry : root["bundles"].toArray()) {
        const QJsonObject b = entry.toObject();
        bool hex = false;
        const std::uint64_t fingerprint = b["fingerprint"].toString().toULongLong(&hex, 16);
        const QString path = b["path"].toString();
        if (path.isEmpty() || !hex || !b["plugins"].isArray() || catalog.count(path))
            return std::nullopt;
        CatalogedBundle& bundle = catalog[path];
        bundle.fingerprint = fingerprint;
        for (const QJsonValue& p : b["plugins"].toArray()) {
            auto d = pluginFrom(p);
            if (!d)
                return std::nullopt;
            bundle.plugins.push_back(std::move(*d));
        }
    }
    return catalog;
}

} // namespace

QString catalogCachePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/corvane/plugins.json");
}

BundleCatalog readCatalogCache(const QString& path, QString& distrust) {
    distrust.clear();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    // Opening a pipe or a device could block or never end.
    if (!info.isFile()) {
        distrust = QStringLiteral("it is not a regular file");
        return {};
    }
    if (info.size() > kLargest) {
        distrust = QStringLiteral("it is larger than a catalog can be (%1 bytes)").arg(info.size());
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        distrust = file.errorString();
        return {};
    }
    const QByteArray bytes = file.read(kLargest + 1);
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError) {
        distrust = QStringLiteral("it is damaged (%1 at byte %2)").arg(parse.errorString()).arg(parse.offset);
        return {};
    }
    auto catalog = catalogFrom(document);
    if (!catalog) {
        distrust = QStringLiteral("it is not a catalog this version of Corvane wrote");
        return {};
    }
    return std::move(*catalog);
}

bool writeCatalogCache(const QString& path, const BundleCatalog& catalog, QString& error) {
    QJsonArray bundles;
    for (const auto& [bundlePath, bundle] : catalog) {
        QJsonArray plugins;
        for (const lv2::PluginDescription& d : bundle.plugins)
            plugins.append(toJson(d));
        bundles.append(QJsonObject{{"path", bundlePath},
                                   {"fingerprint", QString::number(bundle.fingerprint, 16)},
                                   {"plugins", plugins}});
    }
    const QByteArray bytes = QJsonDocument(QJsonObject{{"version", kVersion}, {"bundles", bundles}}).toJson(
        QJsonDocument::Compact);
    if (!QDir().mkpath(QFileInfo(path).path())) {
        error = QStringLiteral("the folder %1 cannot be made").arg(QFileInfo(path).path());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace corvane

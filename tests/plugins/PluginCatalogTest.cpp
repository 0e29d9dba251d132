// The plug-in catalog: its background scan over real bundles (what it lists,
// what it skips and why, the catalog it keeps on disk, the rescan of just the
// bundles that changed), and the ordering and filtering of the list it gives.
#include "plugins/PluginCatalog.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include <elf.h>
#include <unistd.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

const QString fixtureDir = QStringLiteral(CORVANE_LV2_FIXTURE_DIR);

// Each case starts as a first launch: no catalog kept on disk, whatever the
// cases before it or an earlier run kept.
QString cacheHome() {
    static std::unique_ptr<QTemporaryDir> home;
    home = std::make_unique<QTemporaryDir>();
    EXPECT_EQ(setenv("XDG_CACHE_HOME", home->path().toLocal8Bit().constData(), 1), 0);
    return home->path();
}

void setSearchPath(const QStringList& dirs) {
    ASSERT_EQ(setenv("LV2_PATH", dirs.join(':').toLocal8Bit().constData(), 1), 0);
    cacheHome();
    PluginCatalog::invalidate();
}

// Awaits the catalog from a main-thread task, as the picker does.
QList<PluginComponent> awaitComponents() {
    std::optional<QList<PluginComponent>> result;
    Task task = spawnWith([&]() -> Async<void> { result = co_await PluginCatalog::components(); });
    EXPECT_TRUE(test::waitFor([&] { return result.has_value(); }, 30s));
    return result.value_or(QList<PluginComponent>{});
}

const PluginComponent* find(const QList<PluginComponent>& list, const QString& uri) {
    for (const auto& c : list)
        if (c.uri == uri)
            return &c;
    return nullptr;
}

// All a component shows, where == compares the URI alone.
QStringList described(const QList<PluginComponent>& list) {
    QStringList lines;
    for (const auto& c : list)
        lines << QStringList{c.uri, c.name, c.manufacturer, c.takesMidi ? "midi" : ""}.join('|');
    return lines;
}

QStringList urisOf(const QList<PluginComponent>& list) {
    QStringList uris;
    for (const auto& c : list)
        uris << c.uri;
    return uris;
}

bool copyBundle(const QString& from, const QString& to) {
    if (!QDir().mkpath(to))
        return false;
    for (const QString& file : QDir(from).entryList(QDir::Files))
        if (!QFile::copy(from + '/' + file, to + '/' + file))
            return false;
    return true;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

// Bundle `name`.lv2 in `dir`: an effect urn:corvane:test:`name` whose library
// is `name`.so, which is left for the caller to make (or not). Returns the
// library's path.
QString writeBundle(const QString& dir, const QString& name) {
    const QString bundle = dir + '/' + name + ".lv2/";
    const QString manifest =
        QStringLiteral("@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                       "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                       "<urn:corvane:test:%1> a lv2:Plugin ; doap:name \"%1\" ; lv2:binary <%1.so> ;\n"
                       "  lv2:port [ a lv2:AudioPort, lv2:InputPort ; lv2:index 0 ; lv2:symbol \"in\" ],\n"
                       "    [ a lv2:AudioPort, lv2:OutputPort ; lv2:index 1 ; lv2:symbol \"out\" ] .\n")
            .arg(name);
    EXPECT_TRUE(writeFile(bundle + "manifest.ttl", manifest.toUtf8()));
    return bundle + name + ".so";
}

// Points fd 2 at another file while it lives.
class StderrRedirect {
public:
    explicit StderrRedirect(int fd) : saved_(::dup(STDERR_FILENO)) { ::dup2(fd, STDERR_FILENO); }
    ~StderrRedirect() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

lv2::PluginDescription effect(const char* uri, const char* name, bool midi = false) {
    lv2::PluginDescription d;
    d.uri = uri;
    d.name = name;
    d.audioInputs = 1;
    d.audioOutputs = 1;
    d.takesMidi = midi;
    d.isEffect = true;
    return d;
}

} // namespace

TEST(PluginCatalogScan, OneScanServesEveryWaiterACancelledOneAtOnceAndListsEffectsWithTheirMakers) {
    setSearchPath({fixtureDir, "/usr/lib/lv2"});
    EXPECT_FALSE(PluginCatalog::hasCachedScan());
    test::LogCapture log;
    std::optional<QList<PluginComponent>> cancelledResult;
    Task cancelled = spawnWith([&]() -> Async<void> { cancelledResult = co_await PluginCatalog::components(); });
    EXPECT_TRUE(PluginCatalog::hasCachedScan());
    cancelled.cancel();
    ASSERT_TRUE(test::waitFor([&] { return cancelledResult.has_value(); }, 30s));
    EXPECT_TRUE(cancelledResult->isEmpty());
    EXPECT_TRUE(cancelled.isDone());
    // The scan itself went on, for the blocking wait and the next caller alike.
    const auto blocking = PluginCatalog::waitForComponents(30s);
    ASSERT_TRUE(blocking);
    const auto list = awaitComponents();
    EXPECT_EQ(list, *blocking);

    const PluginComponent* gain = find(list, "urn:corvane:test:gain");
    ASSERT_TRUE(gain);
    EXPECT_EQ(gain->name, "Fixture Gain");
    EXPECT_EQ(gain->manufacturer, "Zeta Labs");
    EXPECT_FALSE(gain->takesMidi);
    const PluginComponent* stereo = find(list, "urn:corvane:test:stereo");
    ASSERT_TRUE(stereo);
    EXPECT_TRUE(stereo->takesMidi);
    const PluginComponent* latency = find(list, "urn:corvane:test:latency");
    ASSERT_TRUE(latency);
    EXPECT_TRUE(latency->manufacturer.isEmpty());
    // Loading may fail later; listing does not try.
    EXPECT_TRUE(find(list, "urn:corvane:test:refuses"));

    EXPECT_FALSE(find(list, "urn:corvane:test:instrument"));
    EXPECT_FALSE(find(list, "urn:corvane:test:broken"));
    EXPECT_TRUE(log.contains("urn:corvane:test:broken")) << log.messages().join('\n').toStdString();
    EXPECT_FALSE(find(list, "urn:corvane:test:badmanifest"));
    EXPECT_TRUE(log.contains("badmanifest.lv2: its manifest cannot be read (line 4"))
        << log.messages().join('\n').toStdString();
    // Debian's mda bundle is there too: an effect in, a synthesiser out.
    EXPECT_TRUE(find(list, "http://drobilla.net/plugins/mda/Delay"));
    EXPECT_FALSE(find(list, "http://drobilla.net/plugins/mda/JX10"));
}

TEST(PluginCatalogScan, AChangedBundleIsReadAloneWhileTheListInUseStaysUntilItIsDone) {
    QTemporaryDir dropIn;
    ASSERT_TRUE(dropIn.isValid());
    ASSERT_TRUE(copyBundle(fixtureDir + "/gain.lv2", dropIn.path() + "/gain.lv2"));
    ASSERT_TRUE(copyBundle(fixtureDir + "/stereo.lv2", dropIn.path() + "/stereo.lv2"));
    setSearchPath({dropIn.path()});
    EXPECT_EQ(awaitComponents().size(), 2);
    test::LogCapture log;

    // A preset saved: a bundle of its own, beside the plug-ins.
    const QString preset = dropIn.path() + "/Gain_Warm.preset.lv2/";
    ASSERT_TRUE(writeFile(preset + "Warm.ttl", "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                                               "<> a <http://lv2plug.in/ns/ext/presets#Preset> ;\n"
                                               "  lv2:appliesTo <urn:corvane:test:gain> .\n"));
    ASSERT_TRUE(writeFile(preset + "manifest.ttl",
                          "<Warm.ttl> a <http://lv2plug.in/ns/ext/presets#Preset> ;\n"
                          "  <http://lv2plug.in/ns/lv2core#appliesTo> <urn:corvane:test:gain> ;\n"
                          "  <http://www.w3.org/2000/01/rdf-schema#seeAlso> <Warm.ttl> .\n"));
    ASSERT_TRUE(test::waitFor([&] { return log.contains("1 of 3 bundles read"); }, 10s))
        << log.messages().join('\n').toStdString();
    EXPECT_TRUE(PluginCatalog::hasCachedScan()) << "the list in use was dropped";

    ASSERT_TRUE(copyBundle(fixtureDir + "/latency.lv2", dropIn.path() + "/latency.lv2"));
    ASSERT_TRUE(test::waitFor([] { return find(awaitComponents(), "urn:corvane:test:latency"); }, 10s));
    EXPECT_TRUE(log.contains("1 of 4 bundles read")) << log.messages().join('\n').toStdString();
}

TEST(PluginCatalogScan, TheCatalogKeptOnDiskListsTheSameReadingOnlyChangedBundlesAndOneThatCannotBeTrustedIsRebuilt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"gain", "latency"})
        ASSERT_TRUE(copyBundle(fixtureDir + "/" + name + ".lv2", dir.path() + "/" + name + ".lv2"));
    setSearchPath({dir.path()});
    const QString kept = qEnvironmentVariable("XDG_CACHE_HOME") + "/corvane/plugins.json";
    const QStringList first = described(awaitComponents());
    ASSERT_EQ(first.filter("urn:corvane:test:latency|").size(), 1) << first.join('\n').toStdString();
    auto relaunch = [](const char* bundlesRead, int distrusted = 0) {
        test::LogCapture log;
        PluginCatalog::invalidate();
        const QStringList list = described(awaitComponents());
        EXPECT_TRUE(log.contains(bundlesRead)) << log.messages().join('\n').toStdString();
        EXPECT_EQ(log.count("is read anew from the bundles"), distrusted);
        return list;
    };
    EXPECT_EQ(relaunch("0 of 2 bundles read"), first);

    // One bundle rewritten, one gone, one new.
    QFile manifest(dir.path() + "/gain.lv2/manifest.ttl");
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    const QByteArray renamed = manifest.readAll().replace("Fixture Gain", "Fixture Gain Two");
    manifest.close();
    ASSERT_TRUE(writeFile(manifest.fileName(), renamed));
    ASSERT_TRUE(QDir(dir.path() + "/latency.lv2").removeRecursively());
    ASSERT_TRUE(copyBundle(fixtureDir + "/stereo.lv2", dir.path() + "/stereo.lv2"));
    const QStringList changed = relaunch("2 of 2 bundles read");
    EXPECT_EQ(changed.filter("urn:corvane:test:gain|Fixture Gain Two|").size(), 1) << changed.join('\n').toStdString();
    EXPECT_TRUE(changed.filter("urn:corvane:test:latency|").isEmpty());
    EXPECT_EQ(changed.filter("urn:corvane:test:stereo|").size(), 1) << changed.join('\n').toStdString();
    EXPECT_EQ(relaunch("0 of 2 bundles read"), changed);

    QFile file(kept);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();
    const std::pair<const char*, std::function<bool()>> damages[] = {
        {"truncated", [&] { return writeFile(kept, good.left(good.size() / 2)); }},
        {"garbage", [&] { return writeFile(kept, "\x7f" "ELF\x01\x00 not a catalog"); }},
        {"another version", [&] { return writeFile(kept, QByteArray(good).replace("\"version\":1", "\"version\":7")); }},
        {"a bad entry", [&] { return writeFile(kept, QByteArray(good).replace("\"audioInputs\":1", "\"audioInputs\":-1")); }},
        {"too large", [&] { return QFile::resize(kept, 64 << 20); }},
        {"a folder", [&] { return QFile::remove(kept) && QDir().mkpath(kept); }},
    };
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(damage());
        EXPECT_EQ(relaunch("2 of 2 bundles read", 1), changed);
        if (!QDir().rmdir(kept)) { // a folder is not ours to replace
            EXPECT_EQ(relaunch("0 of 2 bundles read"), changed) << "the rebuilt catalog is trusted";
        }
    }
}

TEST(PluginCatalogScan, BrokenBundlesAndLibrariesThatCannotLoadHereAreSkippedInOurWordsWhileLilvsGoToCorvaneLv2) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(writeFile(dir.path() + "/bad.lv2/manifest.ttl", "<urn:corvane:test:bad> a ;; ]] .\n"));
    ASSERT_TRUE(copyBundle(fixtureDir + "/gain.lv2", dir.path() + "/gain.lv2"));
    // ELF headers like this program's own, with one thing changed.
    QFile self("/proc/self/exe");
    ASSERT_TRUE(self.open(QIODevice::ReadOnly));
    const QByteArray own = self.read(EI_NIDENT + 4);
    auto withType = [&](unsigned char type, bool otherClass) {
        QByteArray header = own;
        const bool bigEndian = header[EI_DATA] == ELFDATA2MSB;
        header[EI_NIDENT + (bigEndian ? 1 : 0)] = static_cast<char>(type);
        header[EI_NIDENT + (bigEndian ? 0 : 1)] = 0;
        if (otherClass)
            header[EI_CLASS] = header[EI_CLASS] == ELFCLASS64 ? ELFCLASS32 : ELFCLASS64;
        return header;
    };
    writeBundle(dir.path(), "missing");
    ASSERT_TRUE(QDir().mkpath(writeBundle(dir.path(), "directory")));
    ASSERT_TRUE(writeFile(writeBundle(dir.path(), "text"), "not a library\n"));
    ASSERT_TRUE(writeFile(writeBundle(dir.path(), "relocatable"), withType(ET_REL, false)));
    ASSERT_TRUE(writeFile(writeBundle(dir.path(), "otherclass"), withType(ET_DYN, true)));
    setSearchPath({dir.path()});
    QTemporaryFile stream;
    ASSERT_TRUE(stream.open());
    test::LogCapture log(/*echo=*/true);
    QList<PluginComponent> list;
    {
        StderrRedirect redirect(stream.handle());
        list = awaitComponents();
    }
    ASSERT_EQ(urisOf(list), QStringList{"urn:corvane:test:gain"});
    const QStringList warnings = log.messagesIn("corvane.engine", QtWarningMsg);
    const std::pair<const char*, const char*> reasons[] = {
        {"missing", "does not exist"},
        {"directory", "is not a regular file"},
        {"text", "is not a shared library (not an ELF file)"},
        {"relocatable", "is not a shared library (ELF type 1)"},
        {"otherclass", "is built for"},
    };
    for (auto [name, reason] : reasons) {
        const QStringList lines =
            warnings.filter(QStringLiteral("Skipping plug-in urn:corvane:test:%1: its library ").arg(name));
        ASSERT_EQ(lines.size(), 1) << name << "\n" << warnings.join('\n').toStdString();
        EXPECT_TRUE(lines[0].contains(reason)) << lines[0].toStdString();
    }

    ASSERT_TRUE(stream.seek(0));
    const QString written = QString::fromUtf8(stream.readAll());
    auto hasLine = [&](const QString& pattern) {
        return written.contains(QRegularExpression('^' + pattern, QRegularExpression::MultilineOption));
    };
    // Ours reach the stream as they were, also those written while lilv's
    // lines are taken off it...
    EXPECT_TRUE(hasLine("corvane.engine: Skipping LV2 bundle " + QRegularExpression::escape(dir.path()) +
                        "/bad.lv2: its manifest cannot be read"))
        << written.toStdString();
    EXPECT_TRUE(hasLine("corvane.engine: Skipping plug-in urn:corvane:test:missing: its library"))
        << written.toStdString();
    // ...and lilv's and serd's do not, but for what corvane.lv2 says of them.
    EXPECT_FALSE(hasLine("(\\w+\\(\\): )?(error|warning|note): ")) << written.toStdString();
    const QRegularExpression serdSays(QStringLiteral("^error: .*/bad.lv2/manifest.ttl:1:"));
    EXPECT_FALSE(log.messagesIn("corvane.lv2", QtWarningMsg).filter(serdSays).isEmpty())
        << log.messages().join('\n').toStdString();
}

TEST(PluginList, EffectsSortByNameInTheUsersLanguageKeepScanOrderForEqualNamesAndFilterByNameOrMaker) {
    lv2::PluginDescription synth = effect("urn:synth", "Aardvark Synth");
    synth.isEffect = false;
    // Under the C locale the order is by code point; a user's language decides.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    const auto list = PluginCatalog::effectsFrom({
        effect("urn:midi-reverb", "reverb", true), // a MIDI effect scanned first
        effect("urn:zeta", "Zeta"),
        synth,
        effect("urn:reverb-upper", "REVERB"),
        effect("urn:e-acute", "\xC3\x89" "cho"),
        effect("urn:reverb-lower", "Reverb"),
        effect("urn:delay", "delay"),
    });
    QLocale::setDefault(before);
    // Equal names: plain effects come before MIDI effects, each in scan order.
    EXPECT_EQ(urisOf(list), (QStringList{"urn:delay", "urn:e-acute", "urn:reverb-upper", "urn:reverb-lower",
                                         "urn:midi-reverb", "urn:zeta"}));
    EXPECT_TRUE(list[4].takesMidi);
    EXPECT_TRUE(PluginCatalog::effectsFrom({}).isEmpty());

    const QList<PluginComponent> all{{"urn:1", "Tape Delay", "Vintage Works", false},
                                     {"urn:2", "Compressor", "DELAYED Audio", false},
                                     {"urn:3", "Gate", "", false},
                                     {"urn:4", "Chorus", "Vintage Works", false}};
    EXPECT_EQ(PluginCatalog::filter(all, QString()), all);
    EXPECT_EQ(urisOf(PluginCatalog::filter(all, "delay")), (QStringList{"urn:1", "urn:2"}));
    EXPECT_EQ(urisOf(PluginCatalog::filter(all, "VINTAGE")), (QStringList{"urn:1", "urn:4"}));
    EXPECT_EQ(urisOf(PluginCatalog::filter(all, "ga")), (QStringList{"urn:3"}));
    // The display name of the unnamed group is not searchable text.
    EXPECT_TRUE(PluginCatalog::filter(all, "Unknown").isEmpty());
    // The query is taken as typed: blanks filter for blanks.
    EXPECT_EQ(urisOf(PluginCatalog::filter(all, " ")), (QStringList{"urn:1", "urn:2", "urn:4"}));
}

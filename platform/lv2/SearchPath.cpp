#include "platform/lv2/SearchPath.h"

#include <QDir>

#include <cstdlib>

namespace corvane::lv2 {

namespace {

// Debian installs some bundles under the multiarch directory; lilv's compiled-in
// default path does not always include it.
constexpr const char* multiarchTriplet() {
#if defined(__x86_64__)
    return "x86_64-linux-gnu";
#elif defined(__aarch64__)
    return "aarch64-linux-gnu";
#elif defined(__i386__)
    return "i386-linux-gnu";
#elif defined(__arm__)
    return "arm-linux-gnueabihf";
#else
    return "";
#endif
}

} // namespace

QStringList searchDirectories() {
    QStringList dirs;
    if (const char* env = std::getenv("LV2_PATH"); env && *env) {
        for (const QString& part : QString::fromLocal8Bit(env).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
            QString path = part;
            if (path.startsWith(QLatin1String("~/")))
                path = QDir::homePath() + path.mid(1);
            dirs << QDir::cleanPath(path);
        }
        dirs.removeDuplicates();
        return dirs;
    }
    dirs << QDir::homePath() + QStringLiteral("/.lv2") << QStringLiteral("/usr/local/lib/lv2")
         << QStringLiteral("/usr/lib/lv2");
    if (*multiarchTriplet())
        dirs << QStringLiteral("/usr/lib/%1/lv2").arg(QLatin1String(multiarchTriplet()));
    return dirs;
}

QString searchPathString() { return searchDirectories().join(QLatin1Char(':')); }

} // namespace corvane::lv2

#include "plugins/InstalledBundles.h"

#include <QFile>

#include <algorithm>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

// FNV-1a: stable across runs and builds, unlike qHash, as a cache on disk needs.
class Digest {
public:
    void add(const void* data, std::size_t size) {
        for (const auto* p = static_cast<const unsigned char*>(data); size--; ++p)
            value_ = (value_ ^ *p) * 0x100000001b3ull;
    }
    template <typename T>
    void addValue(T v) {
        add(&v, sizeof v);
    }
    std::uint64_t value() const { return value_; }

private:
    std::uint64_t value_ = 0xcbf29ce484222325ull;
};

// Names of a directory's entries, or nothing when it cannot be read.
std::vector<std::string> entryNames(int dirFd) {
    std::vector<std::string> names;
    DIR* dir = fdopendir(dirFd); // takes the descriptor
    if (!dir) {
        ::close(dirFd);
        return names;
    }
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// A rewritten file changes its size or its time; an added or removed one the
// names. Times are to the nanosecond, so two saves in one second differ.
std::uint64_t fingerprintOf(const std::string& bundle) {
    Digest digest;
    const int fd = ::open(bundle.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return digest.value();
    const int statFd = ::dup(fd);
    for (const std::string& name : entryNames(fd)) {
        struct stat st{};
        const bool known = statFd >= 0 && ::fstatat(statFd, name.c_str(), &st, 0) == 0;
        digest.add(name.data(), name.size() + 1);
        digest.addValue<std::int64_t>(known ? st.st_size : -1);
        digest.addValue<std::int64_t>(known ? st.st_mtim.tv_sec : 0);
        digest.addValue<std::int64_t>(known ? st.st_mtim.tv_nsec : 0);
    }
    if (statFd >= 0)
        ::close(statFd);
    return digest.value();
}

} // namespace

std::vector<InstalledBundle> installedBundles(const QStringList& lv2Directories) {
    std::vector<InstalledBundle> found;
    for (const QString& lv2Dir : lv2Directories) {
        const std::string dirPath = QFile::encodeName(lv2Dir).toStdString();
        const int fd = ::open(dirPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        for (const std::string& name : entryNames(fd)) {
            const std::string bundle = dirPath + '/' + name;
            struct stat st{};
            // Bundles may be links to directories, as Debian's helpers make them.
            if (::stat(bundle.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                continue;
            found.push_back({QFile::decodeName(bundle.c_str()), fingerprintOf(bundle)});
        }
    }
    return found;
}

} // namespace corvane

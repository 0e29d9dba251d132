#include "platform/system/MemoryLock.h"

#include <QFile>

#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

namespace corvane {

namespace {

// Whether the effective capabilities include CAP_IPC_LOCK (bit 14).
[[maybe_unused]] bool mayLockWithoutLimit() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("CapEff:"))
            continue;
        bool ok = false;
        const qulonglong caps = line.mid(7).trimmed().toULongLong(&ok, 16);
        return ok && (caps & (1ull << 14)) != 0;
    }
    return false;
}

} // namespace

MemoryLockResult lockProcessMemory() {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves terabytes of shadow memory; locking it all fails or
    // takes the machine's RAM.
    return {false, QStringLiteral("not in a sanitizer build")};
#else
    rlimit limit{};
    const bool unlimited = getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
    if (!unlimited && !mayLockWithoutLimit())
        return {false, QStringLiteral("the memory lock limit (ulimit -l) is %1 KiB; raise it to unlimited, e.g. by "
                                      "joining the audio group")
                           .arg(static_cast<qulonglong>(limit.rlim_cur / 1024))};
    if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0)
        return {false, QString::fromLocal8Bit(std::strerror(errno))};
    return {true, {}};
#endif
}

} // namespace corvane

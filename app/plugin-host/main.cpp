// corvane-plugin-host: runs one LV2 plug-in for Corvane, in a process of its
// own so that whatever the plug-in does (crash, hang, exit, eat memory) ends
// only this process. Corvane starts it with the socket on descriptor 3 and
// the shared region on 4 and, when the region names a bit there, the board
// all its hosts share on 5 (see HostProcess.h); it ends when the socket closes.
//
//   corvane-plugin-host [--realtime-priority N] [--address-space-limit BYTES]

#include "app/plugin-host/PluginHost.h"
#include "platform/lv2/IsolatedRegion.h"
#include "platform/lv2/PeriodBoard.h"
#include "platform/system/HostProcess.h"
#include "platform/system/SharedMemory.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Generous for any plug-in, yet a runaway allocation ends this process rather
// than starving the machine.
constexpr unsigned long long kDefaultAddressSpace = 4ull << 30;

bool number(const char* text, unsigned long long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

} // namespace

int main(int argc, char** argv) {
    unsigned long long priority = 0;
    unsigned long long addressSpace = kDefaultAddressSpace;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (hasValue && std::strcmp(argv[i], "--realtime-priority") == 0 && number(argv[i + 1], priority)
            && priority <= 99) {
            ++i;
        } else if (hasValue && std::strcmp(argv[i], "--address-space-limit") == 0
                   && number(argv[i + 1], addressSpace)) {
            ++i;
        } else {
            std::fprintf(stderr, "corvane-plugin-host: unknown argument %s (it is started by Corvane)\n", argv[i]);
            return 2;
        }
    }
#if !defined(__SANITIZE_ADDRESS__) // the sanitizer's shadow memory alone is terabytes of address space
    const rlimit limit{addressSpace, addressSpace};
    if (setrlimit(RLIMIT_AS, &limit) != 0)
        std::fprintf(stderr, "corvane-plugin-host: cannot limit the address space: %s\n", std::strerror(errno));
#endif

    std::string error;
    auto memory = corvane::SharedMemory::adopt(corvane::HostProcess::kRegionFd, sizeof(corvane::lv2::IsolatedRegion),
                                               error);
    corvane::lv2::IsolatedRegion* region =
        memory ? corvane::lv2::IsolatedRegion::open(memory->data(), memory->size()) : nullptr;
    if (!region) {
        std::fprintf(stderr, "corvane-plugin-host: no shared region from Corvane%s%s\n", error.empty() ? "" : ": ",
                     error.c_str());
        return 2;
    }
    // Corvane waits there for the answers of all its hosts at once: a host
    // that could not tell it there would be late every period.
    std::unique_ptr<corvane::SharedMemory> boardMemory;
    corvane::lv2::PeriodBoard* board = nullptr;
    if (region->boardBit != 0) {
        boardMemory =
            corvane::SharedMemory::adopt(corvane::HostProcess::kBoardFd, sizeof(corvane::lv2::PeriodBoard), error);
        board = boardMemory ? corvane::lv2::PeriodBoard::open(boardMemory->data(), boardMemory->size()) : nullptr;
        if (!board) {
            std::fprintf(stderr, "corvane-plugin-host: no period board from Corvane%s%s\n", error.empty() ? "" : ": ",
                         error.c_str());
            return 2;
        }
    }
    corvane::pluginhost::PluginHost host(corvane::HostProcess::kChannelFd, *region, board, static_cast<int>(priority));
    host.serve();
    return 0;
}

#include "tests/support/RealtimeChecker.h"

#include "tests/support/realtime/Tally.h"

namespace corvane::test {

using namespace realtime;

RealtimeChecker::RealtimeChecker() {
    static_assert(kOwners == OwnerCount && kCalls == CallCount && kForbidden == ForbiddenCount,
                  "the snapshot must match the tally");
    for (int owner = 0; owner < kOwners; ++owner)
        for (int call = 0; call < kCalls; ++call)
            start_[owner][call] = tally[owner][call].load(std::memory_order_relaxed);
}

std::uint64_t RealtimeChecker::since(int owner, int call) const {
    return tally[owner][call].load(std::memory_order_relaxed) - start_[owner][call];
}

std::uint64_t RealtimeChecker::since(int owner) const {
    std::uint64_t total = 0;
    for (int call = 0; call < kForbidden; ++call)
        total += since(owner, call);
    return total;
}

std::uint64_t RealtimeChecker::allowed(int call) const {
    std::uint64_t total = 0;
    for (int owner = 0; owner < kOwners; ++owner)
        total += since(owner, call);
    return total;
}

std::uint64_t RealtimeChecker::allowedCalls() const {
    std::uint64_t total = 0;
    for (int call = kForbidden; call < kCalls; ++call)
        total += allowed(call);
    return total;
}

std::uint64_t RealtimeChecker::violations() const { return since(Host) + since(HostCallback); }
std::uint64_t RealtimeChecker::hostCallbackViolations() const { return since(HostCallback); }
std::uint64_t RealtimeChecker::pluginCalls() const { return since(Plugin); }

std::string RealtimeChecker::report() const {
    std::string text;
    auto add = [&](std::uint64_t n, int call, const char* where) {
        if (n == 0)
            return;
        if (!text.empty())
            text += ", ";
        text += std::string(callNames[call]) + " " + std::to_string(n) + where;
    };
    for (int call = 0; call < kForbidden; ++call) {
        add(since(Host, call), call, "");
        add(since(HostCallback, call), call, " in host callbacks");
    }
    if (text.empty())
        text = "none";
    if (const auto plugin = pluginCalls())
        text += " (and " + std::to_string(plugin) + " by plug-ins' own code)";
    std::string allowedText;
    for (int call = kForbidden; call < kCalls; ++call)
        if (const auto n = allowed(call))
            allowedText += (allowedText.empty() ? "; allowed: " : ", ") + std::string(callNames[call]) + " " +
                           std::to_string(n);
    return text + allowedText;
}

bool RealtimeChecker::replacesMalloc() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
}

} // namespace corvane::test

#include "engine/SettledEdits.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvane {

namespace {

// A port that holds NaN holds still too.
bool same(const std::vector<float>& a, const std::vector<float>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](float x, float y) { return x == y || (std::isnan(x) && std::isnan(y)); });
}

} // namespace

void SettledEdits::reset() {
    seen_.reset();
    changedAt_.reset();
}

bool SettledEdits::settledAt(std::vector<float> values, Clock::TimePoint now) {
    if (!seen_) {
        seen_ = std::move(values); // what the plug-in started with
        return false;
    }
    if (!same(*seen_, values)) {
        seen_ = std::move(values);
        changedAt_ = now;
        return false;
    }
    if (!changedAt_ || now - *changedAt_ < kSettleTime)
        return false;
    changedAt_.reset();
    return true;
}

} // namespace corvane

#pragma once
// Stand-ins for the system's card list and udev: cards a test plugs in and
// pulls out, and hot-plug events it sends when it likes.

#include "platform/hardware/alsa/CardList.h"
#include "platform/hardware/alsa/HotplugMonitor.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace corvane::test {

class FakeCardList final : public hw::alsa::CardList {
public:
    void plug(hw::alsa::CardInfo card) {
        std::lock_guard lock(mutex_);
        std::erase_if(cards_, [&](const auto& c) { return c.id == card.id; });
        cards_.push_back(std::move(card));
        std::sort(cards_.begin(), cards_.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
    }
    void pull(const std::string& id) {
        std::lock_guard lock(mutex_);
        std::erase_if(cards_, [&](const auto& c) { return c.id == id; });
    }
    // Card `id` opens as the PCM `pcm` instead of its hw: name.
    void openAs(const std::string& id, const std::string& pcm) {
        std::lock_guard lock(mutex_);
        pcms_[id] = pcm;
    }

    std::vector<hw::alsa::CardInfo> cards() const override {
        std::lock_guard lock(mutex_);
        return cards_;
    }
    std::string pcmName(const hw::alsa::CardInfo& card, int device) const override {
        std::lock_guard lock(mutex_);
        auto it = pcms_.find(card.id);
        return it != pcms_.end() ? it->second : CardList::pcmName(card, device);
    }

private:
    mutable std::mutex mutex_;
    std::vector<hw::alsa::CardInfo> cards_;
    std::map<std::string, std::string> pcms_;
};

class FakeHotplug final : public hw::alsa::HotplugMonitor {
public:
    bool start(std::function<void()> changed) override {
        changed_ = std::move(changed);
        return true;
    }
    // As udev would, from whatever thread calls it.
    void event() const {
        if (changed_)
            changed_();
    }

private:
    std::function<void()> changed_;
};

} // namespace corvane::test

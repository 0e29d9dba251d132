#pragma once
// Reaches the stall fixture's own controls (see tests/fixtures/lv2/StallFixture.cpp)
// in the copy of its library that lilv loads: opening the same file again
// gives the same library.

#include <dlfcn.h>

#include <string>

namespace corvane::test {

struct StallFixtureControl {
    void (*release)() = nullptr;
    void (*hold)(int) = nullptr;
    int (*loading)() = nullptr;

    StallFixtureControl() {
        void* library = dlopen((std::string(CORVANE_LV2_FIXTURE_DIR) + "/stall.lv2/stall.so").c_str(), RTLD_NOW);
        if (!library)
            return;
        release = reinterpret_cast<void (*)()>(dlsym(library, "corvane_stall_fixture_release"));
        hold = reinterpret_cast<void (*)(int)>(dlsym(library, "corvane_stall_fixture_hold"));
        loading = reinterpret_cast<int (*)()>(dlsym(library, "corvane_stall_fixture_loading"));
    }
    bool ok() const { return release && hold && loading; }
};

} // namespace corvane::test

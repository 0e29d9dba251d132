#pragma once
// The fixture plug-ins the window's tests load. Only the fixture bundles are on
// LV2_PATH, set before the first lilv world: a small catalog that is the same
// everywhere.

#include "plugins/PluginComponent.h"
#include "tests/fixtures/lv2/FixtureUiProbe.h"

#include <dlfcn.h>

#include <cstdlib>

namespace corvane::test {

inline const bool fixturePathSet = [] { return setenv("LV2_PATH", CORVANE_LV2_FIXTURE_DIR, 1) == 0; }();
inline const PluginComponent fixtureGain{"urn:corvane:test:gain", "Fixture Gain", "Zeta Labs", false};
// Its editor is the fixture UI, which writes ports when a test says so.
inline const PluginComponent fixtureControls{"urn:corvane:test:controls", "Fixture Controls", "Corvane Tests", false};

// What the fixture UI counts and does, from its library (the one an editor
// loads, kept loaded from the first call on); null if it cannot be loaded.
inline FixtureUiProbe* fixtureUiProbe() {
    static void* const lib = dlopen(CORVANE_LV2_FIXTURE_DIR "/controls.lv2/fixtureui.so", RTLD_NOW | RTLD_LOCAL);
    return lib ? reinterpret_cast<FixtureUiProbeFunction>(dlsym(lib, "corvane_fixture_ui_probe"))() : nullptr;
}

} // namespace corvane::test

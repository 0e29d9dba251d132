#!/usr/bin/env bash
# Installs the Debian 12 packages Corvane builds, runs and tests with. Only what
# is missing is installed; nothing is downloaded from anywhere but Debian.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  # Links in a third of ld's time.
  lld
  qt6-base-dev qt6-declarative-dev libgl-dev
  # qmllint, which the QML's lint test runs.
  qt6-declarative-dev-tools
  # `import QtQml` loads all three.
  qml6-module-qtqml qml6-module-qtqml-models qml6-module-qtqml-workerscript
  # The window: Qt Quick, its controls and layouts, SVG icons, Qt Quick Test.
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtquick-shapes
  qml6-module-qttest qt6-svg-dev fonts-dejavu-core
  # Driving and photographing the window under Xvfb.
  xdotool imagemagick
  liblilv-dev lv2-dev lilv-utils
  # NSM session management speaks OSC.
  liblo-dev
  libjack-jackd2-dev jackd2
  # The ALSA backend and its hot-plug events; the plug-ins give the tests
  # ALSA's `jack` PCM, which plays through a private jackd instead of a card.
  libasound2-dev libudev-dev libasound2-plugins
  pipewire pipewire-bin pipewire-jack
  libgtest-dev libgmock-dev libbenchmark-dev
  mda-lv2 swh-lv2
  # Plug-ins with X11 editors of their own, for the editor window's tests.
  lsp-plugins-lv2 x42-plugins
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
# --no-install-recommends keeps wireplumber, rtkit and dbus-user-session out: the
# PipeWire tests run private daemons of their own and need none of them. pipewire
# only enables its user units for future login sessions; nothing starts now, and
# PipeWire's libjack stays off the loader's path, so JACK programs keep jackd2's.
# jackd2 asks whether to enable real-time limits; answer it up front.
echo 'jackd2 jackd/tweak_rt_limits boolean false' | $sudo debconf-set-selections
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"

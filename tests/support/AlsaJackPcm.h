#pragma once
// An ALSA configuration with one PCM of type `jack` (libasound2-plugins): a
// "sound card" that plays to and records from JACK ports of the server
// JACK_DEFAULT_SERVER names, with that server's timing. Written to a file of
// its own; ALSA_CONFIG_PATH points at it (this process and its children)
// while the object lives.

#include <QTemporaryDir>

#include <optional>
#include <string>
#include <vector>

namespace corvane::test {

class AlsaJackPcm {
public:
    // `captures[k]` feeds the PCM's capture channel k, `playbacks[k]` hears its
    // playback channel k (full JACK port names).
    AlsaJackPcm(const std::string& pcmName, const std::vector<std::string>& captures,
                const std::vector<std::string>& playbacks);
    ~AlsaJackPcm();
    AlsaJackPcm(const AlsaJackPcm&) = delete;
    AlsaJackPcm& operator=(const AlsaJackPcm&) = delete;

    bool ok() const { return ok_; }
    // The value ALSA_CONFIG_PATH has while this object lives.
    std::string configPath() const { return configPath_; }

    // Whether ALSA's jack plug-in is installed at all.
    static bool pluginInstalled();

private:
    QTemporaryDir dir_;
    std::string configPath_;
    std::optional<std::string> previous_;
    bool ok_ = false;
};

} // namespace corvane::test

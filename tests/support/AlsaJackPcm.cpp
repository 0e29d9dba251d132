#include "tests/support/AlsaJackPcm.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <filesystem>

namespace corvane::test {

namespace {

std::string portList(const std::vector<std::string>& ports) {
    std::string text;
    for (std::size_t k = 0; k < ports.size(); ++k)
        text += " " + std::to_string(k) + " \"" + ports[k] + "\"";
    return text;
}

} // namespace

AlsaJackPcm::AlsaJackPcm(const std::string& pcmName, const std::vector<std::string>& captures,
                         const std::vector<std::string>& playbacks) {
    if (!dir_.isValid())
        return;
    const QString file = dir_.filePath(QStringLiteral("asound.conf"));
    const std::string text = "pcm." + pcmName + " {\n  type jack\n  capture_ports {" + portList(captures) +
                             " }\n  playback_ports {" + portList(playbacks) + " }\n}\n";
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.c_str()) != qint64(text.size()))
        return;
    out.close();
    // The system's configuration first: it defines what the jack type is.
    configPath_ = "/usr/share/alsa/alsa.conf:" + file.toStdString();
    if (const char* old = std::getenv("ALSA_CONFIG_PATH"))
        previous_ = old;
    setenv("ALSA_CONFIG_PATH", configPath_.c_str(), 1);
    ok_ = true;
}

AlsaJackPcm::~AlsaJackPcm() {
    if (!ok_)
        return;
    if (previous_)
        setenv("ALSA_CONFIG_PATH", previous_->c_str(), 1);
    else
        unsetenv("ALSA_CONFIG_PATH");
}

bool AlsaJackPcm::pluginInstalled() {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/alsa-lib", "/usr/lib/aarch64-linux-gnu/alsa-lib",
                            "/usr/lib/alsa-lib", "/usr/lib64/alsa-lib"})
        if (std::filesystem::exists(std::string(dir) + "/libasound_module_pcm_jack.so"))
            return true;
    return false;
}

} // namespace corvane::test

#include "platform/hardware/alsa/LibMessages.h"

#include "platform/system/Logging.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>

namespace corvane::hw::alsa {

namespace {

void alsaLibMessage(const char* file, int line, const char* function, int err, const char* format, ...) {
    if (!lcAlsa().isDebugEnabled())
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    qCDebug(lcAlsa, "alsa-lib %s:%d (%s): %s%s%s", file, line, function, text, err ? ": " : "",
            err ? snd_strerror(err) : "");
}

} // namespace

void quietAlsaLib() {
    static const bool set = [] { return snd_lib_error_set_handler(&alsaLibMessage) == 0; }();
    (void)set;
}

} // namespace corvane::hw::alsa

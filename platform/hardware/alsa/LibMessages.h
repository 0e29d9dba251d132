#pragma once
// alsa-lib prints its errors on standard error by default ("ALSA lib
// pcm.c:...: Unknown PCM foo"); we report failures ourselves, so its own
// words go to the debug log.

namespace corvane::hw::alsa {

// Routes alsa-lib's messages to the debug log, for the whole process. Any
// thread; the first call does it.
void quietAlsaLib();

} // namespace corvane::hw::alsa

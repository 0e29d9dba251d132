#pragma once
// Logging categories, one per subsystem that writes diagnostics. README.md
// lists them with what each carries.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcEngine)
Q_DECLARE_LOGGING_CATEGORY(lcEditor)
// The JACK backend's connection news, and libjack's own messages at debug
// level; only warnings show unless asked for.
Q_DECLARE_LOGGING_CATEGORY(lcJack)
// The ALSA backend: devices skipped, I/O set-up, devices lost; alsa-lib's own
// messages at debug level.
Q_DECLARE_LOGGING_CATEGORY(lcAlsa)
// What LV2 code we do not write says: lilv's and serd's diagnostics and the
// plug-ins' own log messages. Our verdicts on plug-ins stay in lcEngine.
Q_DECLARE_LOGGING_CATEGORY(lcLv2)
// Setups and session management (NSM): files opened and saved, what the
// session manager asked for.
Q_DECLARE_LOGGING_CATEGORY(lcSession)

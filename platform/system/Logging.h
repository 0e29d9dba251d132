#pragma once
// Logging categories, one per subsystem that writes diagnostics.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcEngine)
Q_DECLARE_LOGGING_CATEGORY(lcEditor)

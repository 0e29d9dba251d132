#include "platform/system/Logging.h"

Q_LOGGING_CATEGORY(lcEngine, "corvane.engine")
Q_LOGGING_CATEGORY(lcEditor, "corvane.editor")
Q_LOGGING_CATEGORY(lcJack, "corvane.jack", QtWarningMsg)
Q_LOGGING_CATEGORY(lcAlsa, "corvane.alsa", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLv2, "corvane.lv2", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSession, "corvane.session")

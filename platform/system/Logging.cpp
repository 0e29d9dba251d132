#include "platform/system/Logging.h"

Q_LOGGING_CATEGORY(lcEngine, "corvane.engine")
Q_LOGGING_CATEGORY(lcEditor, "corvane.editor")

// The window's module loads, and its colours are the theme's.
#include "tests/ui/QuickView.h"

#include <gtest/gtest.h>

using namespace corvane::test;

TEST(Ui, TheModuleLoadsAndItsContentFillsTheWindowBackground) {
    QuickView view(QStringLiteral("ContentView"), {{"manager", QVariant::fromValue<QObject*>(nullptr)},
                                                   {"loadMonitor", QVariant::fromValue<QObject*>(nullptr)}},
                   QSize(1000, 664));
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
}

// GoogleTest entry point for every test program: a QCoreApplication exists so
// that main-thread tasks, posted events and timers work as in the application.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

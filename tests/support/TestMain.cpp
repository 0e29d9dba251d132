// GoogleTest entry point for every test program: a QCoreApplication exists so
// that main-thread tasks, posted events and timers work as in the application.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // What the program caches (the plug-in catalog), and what the programs it
    // starts cache, goes to a folder of the run's own, never the user's.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

// The window's tests need a GUI application (offscreen under CTest); this
// main() takes the place of the shared one.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery runs the program outside CTest's environment too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings the window stores (its zoom) and the plug-in catalog's cache
    // go to a folder of the run's own, never into the user's.
    QTemporaryDir scratch;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("cache"))));
    // Offscreen, a desktop-sized screen (the default one is 800 × 600), so
    // the window's sizes are those a user's screen gives, the largest zoom's
    // included.
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        QFile config(scratch.filePath(QStringLiteral("screen.json")));
        if (config.open(QIODevice::WriteOnly)
            && config.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 2560, "height": 1600,
                                             "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")) {
            config.close();
            qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
        }
    }
    QGuiApplication app(argc, argv);
    for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, scratch.filePath(QStringLiteral("config")));
    // The first view to import the controls settles, for the whole process,
    // which style a plain "import QtQuick.Controls" means. The application's
    // main window imports them plainly before anything else: so do the tests,
    // or a view that names the Basic style first would give the main window's
    // menu bar the Basic style's height.
    {
        QQmlEngine engine;
        QQmlComponent plain(&engine);
        plain.setData("import QtQuick.Controls\nimport QtQml\nQtObject {}\n", QUrl());
        delete plain.create();
    }
    return RUN_ALL_TESTS();
}

#pragma once
// The File menu's file choices for setups: asks for a file to open or to save
// to, then hands it to the keeper. The question is the platform's file dialog
// (a desktop's own where it offers one, through Qt's platform theme); tests
// answer it themselves. Main thread only.

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <functional>

class QWindow;

namespace corvane {

class SetupKeeper;

class SetupFileChooser : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application owns the one chooser")
public:
    enum class Purpose { Open, Save };
    // Asks the question without waiting for it (the event loop runs on) and
    // calls `chosen` with the file once one is chosen; never when cancelled.
    using Ask = std::function<void(Purpose purpose, const QUrl& folder, QWindow* over,
                                   std::function<void(const QUrl&)> chosen)>;

    // `keeper` must outlive the chooser.
    explicit SetupFileChooser(SetupKeeper& keeper, Ask ask = askWithFileDialog, QObject* parent = nullptr);

    // The window the dialogs belong to (stay above, block while open).
    void setWindow(QWindow* window) { window_ = window; }

    Q_INVOKABLE void chooseToOpen();
    Q_INVOKABLE void chooseToSave();
    // Saves to the setup's file; a setup without one asks for a file, as
    // chooseToSave() does. A file that cannot be written is the keeper's
    // problem to say, not a reason to ask.
    Q_INVOKABLE void save();

    // A modal QFileDialog: the desktop's own dialog where Qt's platform theme
    // has one, else Qt's. Needs a QApplication.
    static void askWithFileDialog(Purpose purpose, const QUrl& folder, QWindow* over,
                                  std::function<void(const QUrl&)> chosen);

private:
    SetupKeeper& keeper_;
    Ask ask_;
    QPointer<QWindow> window_;
};

} // namespace corvane

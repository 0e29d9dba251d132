#pragma once
// The File menu's file choices for setups: asks for a file to open or to save
// to, then hands it to the keeper. The question is the platform's file dialog
// (a desktop's own where it offers one, through Qt's platform theme); tests
// answer it themselves. Before unsaved changes are replaced (Open) or left
// (closing the window) it asks whether to save them; the window shows that
// question and passes on the answer. In a session, whose manager decides
// what is kept, it never asks. Main thread only.

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
    // Whether the save-changes question waits for an answer, and its text.
    Q_PROPERTY(bool asking READ asking NOTIFY askingChanged)
    Q_PROPERTY(QString question READ question NOTIFY askingChanged)
public:
    enum class Purpose { Open, Save };
    enum class Answer { Save, DontSave, Cancel };
    Q_ENUM(Answer)
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

    bool asking() const { return static_cast<bool>(afterQuestion_); }
    QString question() const;
    // Save saves (asking for a file when the setup has none) and goes on once
    // it is saved; Don't Save goes on; Cancel stays.
    Q_INVOKABLE void answer(corvane::SetupFileChooser::Answer answer);
    // For the window's close: true when nothing unsaved is in the way. Else
    // false, and the question is asked; an answer that lets the window go
    // emits closeApproved(), and the next call says true.
    Q_INVOKABLE bool mayClose();

    // A modal QFileDialog: the desktop's own dialog where Qt's platform theme
    // has one, else Qt's. Needs a QApplication.
    static void askWithFileDialog(Purpose purpose, const QUrl& folder, QWindow* over,
                                  std::function<void(const QUrl&)> chosen);

signals:
    void askingChanged();
    void closeApproved();

private:
    bool mustAsk() const;
    // Runs `then` now, or once the question about unsaved changes lets it.
    void unlessUnsaved(std::function<void()> then);
    void goOn();
    void setAfterQuestion(std::function<void()> then);

    SetupKeeper& keeper_;
    Ask ask_;
    QPointer<QWindow> window_;
    std::function<void()> afterQuestion_; // set while the question waits
    bool closeApproved_ = false;
};

} // namespace corvane

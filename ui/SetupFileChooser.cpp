#include "ui/SetupFileChooser.h"

#include "setup/SetupKeeper.h"

#include <QApplication>
#include <QFileDialog>
#include <QWindow>

namespace corvane {

SetupFileChooser::SetupFileChooser(SetupKeeper& keeper, Ask ask, QObject* parent)
    : QObject(parent), keeper_(keeper), ask_(std::move(ask)) {}

void SetupFileChooser::chooseToOpen() {
    unlessUnsaved([this] {
        QPointer<SetupKeeper> keeper(&keeper_);
        ask_(Purpose::Open, keeper_.folder(), window_, [keeper](const QUrl& file) {
            if (keeper)
                keeper->open(file);
        });
    });
}

void SetupFileChooser::chooseToSave() {
    QPointer<SetupKeeper> keeper(&keeper_);
    ask_(Purpose::Save, keeper_.folder(), window_, [keeper](const QUrl& file) {
        if (keeper)
            keeper->saveAs(file);
    });
}

QString SetupFileChooser::question() const {
    return QStringLiteral("Save changes to “%1”?").arg(keeper_.name());
}

void SetupFileChooser::setAfterQuestion(std::function<void()> then) {
    const bool was = asking();
    afterQuestion_ = std::move(then);
    if (was != asking())
        emit askingChanged();
}

bool SetupFileChooser::mustAsk() const { return keeper_.isDirty() && !keeper_.managedBySession(); }

void SetupFileChooser::unlessUnsaved(std::function<void()> then) {
    if (mustAsk())
        setAfterQuestion(std::move(then));
    else
        then();
}

void SetupFileChooser::goOn() {
    auto then = std::move(afterQuestion_);
    setAfterQuestion({});
    if (then)
        then();
}

void SetupFileChooser::answer(Answer answer) {
    if (!asking())
        return;
    switch (answer) {
    case Answer::DontSave:
        goOn();
        return;
    case Answer::Cancel:
        setAfterQuestion({});
        return;
    case Answer::Save:
        if (keeper_.save()) {
            goOn();
        } else if (!keeper_.hasFile()) {
            // Goes on once saved; a Save As dialog cancelled stays.
            auto then = std::move(afterQuestion_);
            setAfterQuestion({});
            QPointer<SetupFileChooser> self(this);
            ask_(Purpose::Save, keeper_.folder(), window_, [self, then](const QUrl& file) {
                SetupFileChooser* chooser = self.data();
                if (chooser && chooser->keeper_.saveAs(file) && then)
                    then();
            });
        } else {
            setAfterQuestion({}); // the keeper says why it could not save
        }
        return;
    }
}

bool SetupFileChooser::mayClose() {
    if (closeApproved_ || !mustAsk())
        return true;
    setAfterQuestion([this] {
        closeApproved_ = true;
        emit closeApproved();
    });
    return false;
}

void SetupFileChooser::save() {
    if (!keeper_.save() && !keeper_.hasFile())
        chooseToSave();
}

void SetupFileChooser::askWithFileDialog(Purpose purpose, const QUrl& folder, QWindow* over,
                                         std::function<void(const QUrl&)> chosen) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return; // file dialogs are widgets; a GUI-only application has none
    auto* dialog = new QFileDialog(nullptr, purpose == Purpose::Open ? QStringLiteral("Open Setup")
                                                                      : QStringLiteral("Save Setup"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setDirectoryUrl(folder);
    dialog->setNameFilters({QStringLiteral("Corvane setups (*.json)"), QStringLiteral("All files (*)")});
    if (purpose == Purpose::Open) {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    } else {
        // Asks before replacing a file that exists.
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setDefaultSuffix(QStringLiteral("json"));
    }
    dialog->winId(); // makes its native window, which can then sit over ours
    if (over && dialog->windowHandle())
        dialog->windowHandle()->setTransientParent(over);
    // Setups are local files; the dialog announces those through fileSelected
    // (its urlSelected stays quiet for them).
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                     [chosen = std::move(chosen)](const QString& file) { chosen(QUrl::fromLocalFile(file)); });
    dialog->open();
}

} // namespace corvane

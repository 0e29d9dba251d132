#include "ui/SetupFileChooser.h"

#include "setup/SetupKeeper.h"

#include <QApplication>
#include <QFileDialog>
#include <QWindow>

namespace corvane {

SetupFileChooser::SetupFileChooser(SetupKeeper& keeper, Ask ask, QObject* parent)
    : QObject(parent), keeper_(keeper), ask_(std::move(ask)) {}

void SetupFileChooser::chooseToOpen() {
    QPointer<SetupKeeper> keeper(&keeper_);
    ask_(Purpose::Open, keeper_.folder(), window_, [keeper](const QUrl& file) {
        if (keeper)
            keeper->open(file);
    });
}

void SetupFileChooser::chooseToSave() {
    QPointer<SetupKeeper> keeper(&keeper_);
    ask_(Purpose::Save, keeper_.folder(), window_, [keeper](const QUrl& file) {
        if (keeper)
            keeper->saveAs(file);
    });
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

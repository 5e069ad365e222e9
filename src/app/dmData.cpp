#include "app/dmData.h"

#include "ui/BalloonHint.h"

#include <QFileDialog>
#include <QWidget>

namespace {

// The saved-list dialogs: Qt's own, one filter, ".qdl" added to a name typed without one.
QFileDialog* makeListDialog(QFileDialog::AcceptMode mode) {
    auto* d = new QFileDialog;
    d->setOption(QFileDialog::DontUseNativeDialog);
    d->setOption(QFileDialog::ReadOnly, false);
    d->setAcceptMode(mode);
    // a typed name need not exist, and only one file is chosen
    d->setFileMode(QFileDialog::AnyFile);
    d->setNameFilter(QStringLiteral("Ondrix Files (*.qdl *.QDL)"));
    d->setDefaultSuffix(QStringLiteral("qdl"));
    d->setSizeGripEnabled(true);
    return d;
}

// Runs a file dialog modally over its owner; the dialog stays the data module's.
bool runOwned(QFileDialog* dialog, QWidget* owner) {
    dialog->setParent(owner, dialog->windowFlags());
    dialog->setWindowModality(Qt::ApplicationModal);
    const bool ok = dialog->exec() == QDialog::Accepted;
    dialog->setParent(nullptr, dialog->windowFlags());
    return ok;
}

} // namespace

TdmData* dmData = nullptr;

TdmData::TdmData(QObject* parent) : QObject(parent) {
    dmData = this;

    Dialog = new QFileDialog;
    // Qt's own dialog, the same on every desktop and drivable by the tests
    Dialog->setOption(QFileDialog::DontUseNativeDialog);
    Dialog->setOption(QFileDialog::ReadOnly, false);
    Dialog->setFileMode(QFileDialog::ExistingFiles);
    Dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // one filter entry; the capitals because file names here are case-sensitive
    Dialog->setNameFilter(QStringLiteral("All Music Files (*.mp3 *.wma *.wav *.MP3 *.WMA *.WAV)"));
    Dialog->setSizeGripEnabled(true);

    OpenT = makeListDialog(QFileDialog::AcceptOpen);
    SaveT = makeListDialog(QFileDialog::AcceptSave);
    SaveT->setWindowTitle(QStringLiteral("Ondrix - Ulozenie tracklistu"));
    // the same file name replaces the saved list without asking
    SaveT->setOption(QFileDialog::DontConfirmOverwrite);
    // no places bar
    SaveT->setSidebarUrls({});
    if (auto* sidebar = SaveT->findChild<QWidget*>(QStringLiteral("sidebar")))
        sidebar->hide();

    bHint = new BalloonHint(this);
    bHint->Install();
}

TdmData::~TdmData() {
    delete Dialog;
    delete OpenT;
    delete SaveT;
    if (dmData == this)
        dmData = nullptr;
}

bool TdmData::RunDialog(QWidget* owner, QStringList& files) {
    Dialog->setParent(owner, Dialog->windowFlags());
    Dialog->setWindowModality(Qt::ApplicationModal);
    const bool ok = Dialog->exec() == QDialog::Accepted;
    Dialog->setParent(nullptr, Dialog->windowFlags());
    if (ok)
        files = Dialog->selectedFiles();
    return ok;
}

bool TdmData::RunOpenT(QWidget* owner, QString& file) {
    if (!runOwned(OpenT, owner) || OpenT->selectedFiles().isEmpty())
        return false;
    file = OpenT->selectedFiles().first();
    return true;
}

bool TdmData::RunSaveT(QWidget* owner, QString& file) {
    if (!runOwned(SaveT, owner) || SaveT->selectedFiles().isEmpty())
        return false;
    file = SaveT->selectedFiles().first();
    return true;
}

#include "app/dmData.h"

#include "ui/BalloonHint.h"

#include <QFileDialog>

TdmData* dmData = nullptr;

TdmData::TdmData(QObject* parent) : QObject(parent) {
    dmData = this;

    bHint = new BalloonHint(this);
    bHint->Install();
}

TdmData::~TdmData() {
    if (dmData == this)
        dmData = nullptr;
}

QFileDialog* TdmData::Dialog() {
    // made on first use: a file dialog costs start-up time and reads Qt's settings
    if (!dialog_) {
        dialog_ = std::make_unique<QFileDialog>();
        // Qt's own dialog, the same on every desktop and drivable by the tests
        dialog_->setOption(QFileDialog::DontUseNativeDialog);
        dialog_->setFileMode(QFileDialog::ExistingFiles);
        dialog_->setAcceptMode(QFileDialog::AcceptOpen);
        // one filter entry; the capitals because file names here are case-sensitive
        dialog_->setNameFilter(
            QStringLiteral("All Music Files (*.mp3 *.wma *.wav *.MP3 *.WMA *.WAV)"));
        dialog_->setSizeGripEnabled(true);
    }
    return dialog_.get();
}

bool TdmData::RunDialog(QWidget* owner, QStringList& files) {
    QFileDialog* dialog = Dialog();
    dialog->setParent(owner, dialog->windowFlags());
    dialog->setWindowModality(Qt::ApplicationModal);
    const bool ok = dialog->exec() == QDialog::Accepted;
    dialog->setParent(nullptr, dialog->windowFlags());
    if (ok)
        files = dialog->selectedFiles();
    return ok;
}

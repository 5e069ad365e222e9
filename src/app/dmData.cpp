#include "app/dmData.h"

#include "ui/BalloonHint.h"

#include <QFileDialog>

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

    bHint = new BalloonHint(this);
    bHint->Install();
}

TdmData::~TdmData() {
    delete Dialog;
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

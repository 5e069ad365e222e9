#pragma once

#include <QObject>
#include <QStringList>

class QFileDialog;
class QWidget;
class BalloonHint;

// The data module: non-visual components shared by the windows, alive for the whole run.
class TdmData : public QObject {
    Q_OBJECT
public:
    explicit TdmData(QObject* parent = nullptr);
    ~TdmData() override;

    // Runs the music dialog; on confirmation returns true and the chosen full paths, in the
    // order the dialog reports them.
    bool RunDialog(QWidget* owner, QStringList& files);

    // Run the saved-list dialogs; on confirmation return true and the chosen full path (".qdl"
    // added to a name typed without an extension).
    bool RunOpenT(QWidget* owner, QString& file);
    bool RunSaveT(QWidget* owner, QString& file);

    QFileDialog* Dialog = nullptr;
    QFileDialog* OpenT = nullptr;
    QFileDialog* SaveT = nullptr;
    BalloonHint* bHint = nullptr;
};

// The one data module of the running program.
extern TdmData* dmData;

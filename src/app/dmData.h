#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

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

    // the music dialog: all music files, several at once
    QFileDialog* Dialog();
    BalloonHint* bHint = nullptr;

private:
    std::unique_ptr<QFileDialog> dialog_;
};

// The one data module of the running program.
extern TdmData* dmData;

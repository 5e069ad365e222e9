#pragma once

#include "ui/SkinnedForm.h"

#include <QStringList>
#include <memory>

class QListWidget;
class ClickLabel;
class TID3v2Tag;

// The playlist editor: a modal window showing "patch.dat" as track captions. It changes the
// persisted list only through files ("patch.dat", "tracklist.dat", "kontrola.tmp"); the main
// window picks the changes up when the editor has closed.
class TfrmTracklist : public SkinnedForm {
    Q_OBJECT
public:
    explicit TfrmTracklist(QWidget* parent = nullptr);
    ~TfrmTracklist() override;

    // controls, named as the layout names them
    ClickLabel* Label1 = nullptr; // "X"
    QListWidget* tracklist = nullptr;
    ClickLabel* Label2 = nullptr; // "Open"
    ClickLabel* Label3 = nullptr; // "Add tracks"
    ClickLabel* Label4 = nullptr; // "Save"

    // the paths just opened or added
    QStringList List;
    // the reader of the last operation that built captions; none until one did
    std::unique_ptr<TID3v2Tag> Tag;

    // handlers
    void FormCreate();
    void FormDestroy();
    void Label1Click();
    void Label2Click();
    void Label3Click();
    void Label4Click();
    void tracklistKeyUp(int key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    // A fresh reader, then one caption line per path after the lines already shown.
    void AppendCaptions(const QStringList& paths);
};

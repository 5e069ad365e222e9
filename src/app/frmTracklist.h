#pragma once

#include "ui/SkinnedForm.h"

#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

class QListWidget;
class QListWidgetItem;
class ClickLabel;
class DropMark;
class TID3v2Tag;
struct TListInput;

// The playlist editor: a modal window showing "patch.dat" as track captions. It changes the
// persisted list only through files ("patch.dat", "tracklist.dat", "kontrola.tmp"); the main
// window picks the changes up when the editor has closed, or when a line is played from here.
// The main window tells it which of its entries is loaded, and asks where its entries went.
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
    ClickLabel* Label5 = nullptr; // "Add folder"

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
    void Label5Click();
    void tracklistKeyUp(int key);
    // double-click or Return on a line: play it
    void tracklistActivate(int row);
    // Alt+Up, Alt+Down: the selected lines one up or down
    void tracklistMove(int step);
    // Files, folders and play lists chosen as a folder or dropped on the editor: added as Add
    // tracks adds.
    void AddItems(const QStringList& items);

    // The main window's entry [index] is the one loaded now (-1: none): its line is marked.
    void SetPlayingEntry(int32_t index);
    // For each entry [i] of the main window's list of `count` entries, the index of its line in
    // "patch.dat" as the editor has left it, or -1 when it was deleted.
    std::vector<int32_t> EntryRows(int32_t count) const;
    // The main window now holds "patch.dat" as it is: its entries are the lines in order.
    void ListTaken();
    // The index in "patch.dat" of a line, or -1 for a line shown only because of Open.
    int32_t EntryOfRow(int row) const;

signals:
    // A line of "patch.dat" was chosen to play: its index there.
    void PlayLineRequested(int32_t entry);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    // A fresh reader, then one caption line per path after the lines already shown; `kind`
    // says what the lines are (see the .cpp).
    void AppendCaptions(const QStringList& paths, int32_t kind);
    // The chosen tracks after the lines shown, and "patch.dat" and "kontrola.tmp" as Add tracks
    // leaves them.
    void AddTracks(const QStringList& paths);
    void AddInput(const TListInput& input);
    // "patch.dat" as the lines of the persisted list now stand, after they moved.
    void SaveOrder();
    void MoveRows(QList<int> rows, int to);
    void ShowMark(QListWidgetItem* item, bool marked);

    DropMark* dropMark_ = nullptr;
    int32_t playingEntry_ = -1;
    QListWidgetItem* marked_ = nullptr;
};

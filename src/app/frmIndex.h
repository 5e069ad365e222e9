#pragma once

#include "app/TrackCaption.h"
#include "app/Volume.h"
#include "core/ShuffleOrder.h"
#include "ui/SkinnedForm.h"

#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QSlider;
class QTimer;
class ClickArea;
class ClickLabel;
class TID3v2Tag;
class TMediaPlayer;
class TProgressBar;
class TfrmTracklist;
class DropMark;

// The main window: transport, volume, progress, the play list and its file "patch.dat".
class TfrmIndex : public SkinnedForm {
    Q_OBJECT
public:
    explicit TfrmIndex(QWidget* parent = nullptr);
    ~TfrmIndex() override;

    // controls, named as the layout names them
    ClickLabel* Label1 = nullptr; // "X"
    ClickLabel* Label2 = nullptr; // "+"
    ClickLabel* lMenu = nullptr;  // "?"
    ClickLabel* Label5 = nullptr; // "─"
    ClickArea* iPause = nullptr;
    ClickArea* iPlay = nullptr;
    ClickArea* iStop = nullptr;
    QCheckBox* cbRepeat = nullptr;
    QCheckBox* cbShuffle = nullptr;
    ClickLabel* Image2 = nullptr; // speaker: Mute
    ClickLabel* Image3 = nullptr; // crossed-out speaker: Unmute
    QSlider* volume = nullptr;
    ClickLabel* Label3 = nullptr; // "OPEN FILE"
    QLabel* lInfo = nullptr;
    ClickLabel* Label4 = nullptr; // "PLAYLIST"
    TProgressBar* Progres = nullptr;
    TMediaPlayer* Player = nullptr;
    QTimer* Timer = nullptr;   // 1 ms: window move
    QTimer* tStatus = nullptr; // 100 ms: status tick

    // play-list state
    QStringList PlayList;
    int32_t CurrentIndex = 0;
    int32_t LastIndex = 0;
    bool TrackLoaded = false;
    // Entries loaded into the player so far (start-up, OPEN FILE, advances, hand-overs), which
    // names each load: the desktop's track id, so that a request meant for the previous track
    // never reaches the next one, even at the same index or with the same file.
    uint64_t EntryLoads = 0;
    // the reader behind the captions, reused for every track
    std::unique_ptr<TID3v2Tag> Tag;
    // what the caption was last made from
    TTrackTags ShownTags;

    // handlers
    void FormCreate();
    void FormDestroy();
    void FormHide();
    void Label3Click();
    void iPlayClick();
    void iPauseClick();
    void iStopClick();
    void volumeChange();
    void Image2Click();
    void Image3Click();
    void PlayerVolumeChange(int32_t value);
    void Label2MouseDown();
    void Label2MouseUp();
    void TimerTimer();
    void tStatusTimer();
    void Label1Click();
    void Label4Clic();
    void Label5Click();
    void lMenuClick();
    void ProgresPick(double fraction, bool done);
    void ProgresKey(int key);
    void cbRepeatClick();
    void cbShuffleClick();

    // The one answer to "which entry plays after the current one": the index the status tick's
    // advance plays when the current entry ends — the next in list order, or in the shuffled
    // order; round the list (a new pass of the shuffle) with Repeat — or -1 where the list ends
    // there. The tick, the desktop's Next and anything else that goes on ask it.
    int32_t FollowingEntry() const;
    // The entry before the current one in the same order (the desktop's Previous), or -1.
    int32_t PrecedingEntry() const;
    // The list's entry at `index`, empty where there is none.
    QString Neighbour(int32_t index) const;
    // The player's file is entry `index`, with the entries beside it.
    void SetEntryFile(int32_t index);
    // Called wherever FollowingEntry's answer may change: Shuffle or Repeat toggled, the list
    // changed by the editor or by a line played from it, what plays (Play, each entry played,
    // a seek). The player is told, so the following entry is opened and queued behind the
    // current one while the tick runs, and its caption read; the desktop is told too.
    void FollowingChanged();

    // Makes entry [index] the current one and plays it, as the status tick does at the end of a
    // track; raises EListError outside the list and the device's error when it cannot be opened.
    // With `play` false the entry is only opened.
    void PlayEntry(int32_t index, bool play = true);
    // Next and Previous of the desktop's controls: entry [index] as the tick's advance opens it,
    // played if `play`.
    void SkipTo(int32_t index, bool play);
    // Moves within the current track to `position` milliseconds (clamped to the track), keeping
    // what the player does: playing plays on from there, paused or stopped stands there. Does
    // nothing when no track is loaded.
    void SeekTo(int32_t position);
    // Files from outside the window (the command line, a later start, the desktop): they
    // replace the list as a confirmed OPEN FILE does, then play starts.
    void OpenFiles(const QStringList& files);
    // Files, folders and play lists from outside (a drop, the command line, a later start, the
    // desktop): read as the entries they give (app/ListInput.h), which then replace the list
    // as OpenFiles does; what cannot be taken is named in one box.
    void OpenItems(const QStringList& items);
    // A line of the editor's list chosen to play: the list as the editor has saved it so far
    // becomes the playback list, and its entry [row] plays at once, from its start.
    void PlayLine(TfrmTracklist& editor, int32_t row);

signals:
    // The play state, the track, the volume or the list may have changed; sent from the event
    // loop once the handler is done, also when it ended in an error.
    void StateChanged();
    // The current track was moved to another place (the bar, its keys, the desktop).
    void Seeked();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void CreateControls();
    void ShowCaption();
    void OpenCurrent();
    void EndOfList();
    void StopAtEnd();
    void TakeChosen(bool confirmed, const QStringList& chosen);
    void NoteStateChange();
    void ShowMuted(bool muted);
    // The tags of the following entry, read in the background; taken by ShowCaption.
    void PrefetchTags(const QString& path);
    void UpdateSeekable();
    void DragSeekTimer();
    void ForgetDrag();
    // What follows the current entry, and whether it comes round (Repeat starting the list or
    // the shuffle again), where the tick waits one turn as Repeat always has.
    int32_t Following(bool* round) const;
    bool Shuffled() const;
    // The shuffled order anew (for a list replaced, or Shuffle checked: the current entry
    // first), or after a change that moved the entries (`moved[i]`: where entry i went, -1 when
    // it went). Neither prepares what follows: the callers do where the engine should.
    void ShuffleAnew();
    void ShuffleMoved(const std::vector<int32_t>& moved);

    // the list could not be read at start-up: do not write over it until it has been replaced
    bool listUnreadable_ = false;
    // Repeat has come round: the next tick starts the list again from entry 0
    bool restartPending_ = false;
    // automatic advances in a row whose track could not be opened
    int32_t failedAdvances_ = 0;
    bool stateNoticePending_ = false;
    TTrackTags prefetchedTags_; // of the following entry, once read
    QString prefetching_;       // whose tags are being read
    // the slider is being set to the volume the sound server has: nothing to send back
    bool followingVolume_ = false;
    // While the bar is dragged the track follows at most this often; the place picked
    // meanwhile waits here (-1: none).
    QTimer* dragSeek_ = nullptr;
    int32_t pendingSeek_ = -1;
    // the device the drag began on (-1: no drag)
    int32_t dragDevice_ = -1;
    // the order a shuffled list plays in; empty while Shuffle is off
    TShuffleOrder shuffle_;
    // shows that a drop would be taken
    DropMark* dropMark_ = nullptr;
};

#include "app/frmIndex.h"

#include "app/AppFiles.h"
#include "app/Application.h"
#include "app/ListInput.h"
#include "app/TrackCaption.h"
#include "app/dmData.h"
#include "app/frmMenu.h"
#include "app/frmTracklist.h"
#include "core/BoundedWait.h"
#include "core/ListFile.h"
#include "core/PlayListFormats.h"
#include "net/UrlActions.h"
#include "playback/MPlayer.h"
#include "tags/ID3v2Library.h"
#include "ui/Accessibility.h"
#include "ui/ClickLabel.h"
#include "ui/Compositing.h"
#include "ui/DropMark.h"
#include "ui/Fonts.h"
#include "ui/JpegImage.h"
#include "ui/ProgressBar.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QSlider>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace {

// Shuffle sits beside Repeat, as wide and with the same gap the layout leaves around it.
constexpr int kShuffleLeft = 8 + 97 + 3;

// Moving a window by hand is only allowed where the platform lets programs place windows: not
// on Wayland, nor through XWayland, whose compositor ignores an X client's moves.
bool canPlaceWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland")) &&
           !Compositing::OnXWayland();
}

} // namespace

TfrmIndex::TfrmIndex(QWidget* parent) : SkinnedForm(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Ondrix 3"));
    SetClientSize(534, 227);
    LoadSkin(QStringLiteral(":/skins/main.jpg"));
    CreateControls();
    CenterOnScreen();
    TApplication::RunHandler([this] { FormCreate(); });
    UpdateSeekable();
}

TfrmIndex::~TfrmIndex() {
    TApplication::RunHandler([this] { FormDestroy(); });
}

void TfrmIndex::CreateControls() {
    setFont(LayoutFont(QStringLiteral("MS Sans Serif"), 11));

    const auto label = [this](const QString& text, const QString& face, int px, QRect geometry,
                              const QString& hint, Qt::CursorShape cursor) {
        auto* l = new ClickLabel(text, this);
        StyleLabel(l, face, px, true, kNavy);
        l->setGeometry(geometry);
        l->setCursor(cursor);
        l->setToolTip(hint);
        return l;
    };
    Label1 = label(QStringLiteral("X"), QStringLiteral("Arial Black"), 16, {512, 0, 12, 23},
                   QStringLiteral("Close"), Qt::PointingHandCursor);
    Label2 = label(QStringLiteral("+"), QStringLiteral("Arial Black"), 16, {8, 0, 11, 23},
                   QStringLiteral("Move"), Qt::SizeAllCursor);
    lMenu = label(QStringLiteral("?"), QStringLiteral("Arial"), 19, {25, 0, 12, 22},
                  QStringLiteral("Show About form"), Qt::PointingHandCursor);
    Label5 = label(QStringLiteral("\u2500"), QStringLiteral("Arial"), 19, {493, 8, 13, 22},
                   QStringLiteral("Hide"), Qt::PointingHandCursor);
    Label3 = label(QStringLiteral("OPEN FILE"), QStringLiteral("Arial"), 19, {5, 188, 101, 22},
                   QString(), Qt::PointingHandCursor);
    Label4 = label(QStringLiteral("PLAYLIST"), QStringLiteral("Arial"), 19, {432, 188, 92, 22},
                   QString(), Qt::PointingHandCursor);

    const auto area = [this](QRect geometry) {
        auto* a = new ClickArea(this);
        a->setGeometry(geometry);
        a->setCursor(Qt::PointingHandCursor);
        return a;
    };
    iPause = area({140, 94, 70, 59});
    iPlay = area({216, 76, 105, 88});
    iStop = area({325, 94, 68, 56});

    cbRepeat = new QCheckBox(QStringLiteral("Repeat"), this);
    cbRepeat->setGeometry(8, 165, 97, 17);
    StyleLabel(cbRepeat, QStringLiteral("MS Sans Serif"), 11, false, kWhite);
    // beside Repeat and like it; neither is remembered between runs
    cbShuffle = new QCheckBox(QStringLiteral("Shuffle"), this);
    cbShuffle->setGeometry(kShuffleLeft, 165, 97, 17);
    StyleLabel(cbShuffle, QStringLiteral("MS Sans Serif"), 11, false, kWhite);

    const auto speaker = [this](const QString& skin, const QString& hint) {
        auto* s = new ClickLabel(this);
        s->setGeometry(440, 155, 24, 27);
        s->SetImage(LoadJpeg(skin));
        s->setCursor(Qt::PointingHandCursor);
        s->setToolTip(hint);
        return s;
    };
    Image2 = speaker(QStringLiteral(":/skins/speaker.jpg"), QStringLiteral("Mute"));
    Image3 = speaker(QStringLiteral(":/skins/speaker-muted.jpg"), QStringLiteral("Unmute"));
    Image3->hide();
    Image3->setEnabled(false);

    volume = new QSlider(Qt::Horizontal, this);
    volume->setGeometry(470, 155, 64, 27);
    volume->setRange(0, 1000);
    volume->setTickPosition(QSlider::NoTicks);
    volume->setValue(0);

    lInfo = new QLabel(this);
    lInfo->setGeometry(140, 188, 253, 13);
    lInfo->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // tag texts are shown as they are, never as markup
    lInfo->setTextFormat(Qt::PlainText);
    StyleLabel(lInfo, QStringLiteral("MS Sans Serif"), 11, false, kWhite);

    Progres = new TProgressBar(this);
    Progres->setGeometry(0, 216, 534, 11);

    Player = new TMediaPlayer(this);

    Timer = new QTimer(this);
    Timer->setInterval(1);
    tStatus = new QTimer(this);
    tStatus->setInterval(100);
    dragSeek_ = new QTimer(this);
    dragSeek_->setInterval(100);
    dragSeek_->setSingleShot(true);

    connect(Label1, &ClickLabel::clicked, this, &TfrmIndex::Label1Click);
    connect(Label2, &ClickLabel::pressed, this, &TfrmIndex::Label2MouseDown);
    connect(Label2, &ClickLabel::released, this, &TfrmIndex::Label2MouseUp);
    connect(lMenu, &ClickLabel::clicked, this, &TfrmIndex::lMenuClick);
    connect(Label5, &ClickLabel::clicked, this, &TfrmIndex::Label5Click);
    connect(iPause, &ClickArea::clicked, this, &TfrmIndex::iPauseClick);
    connect(iPlay, &ClickArea::clicked, this, &TfrmIndex::iPlayClick);
    connect(iStop, &ClickArea::clicked, this, &TfrmIndex::iStopClick);
    connect(Image2, &ClickLabel::clicked, this, &TfrmIndex::Image2Click);
    connect(Image3, &ClickLabel::clicked, this, &TfrmIndex::Image3Click);
    connect(Label3, &ClickLabel::clicked, this, &TfrmIndex::Label3Click);
    connect(Label4, &ClickLabel::clicked, this, &TfrmIndex::Label4Clic);
    connect(volume, &QSlider::valueChanged, this, &TfrmIndex::volumeChange);
    connect(Player, &TMediaPlayer::VolumeChanged, this, &TfrmIndex::PlayerVolumeChange);
    connect(Timer, &QTimer::timeout, this, &TfrmIndex::TimerTimer);
    connect(tStatus, &QTimer::timeout, this, &TfrmIndex::tStatusTimer);
    connect(cbRepeat, &QCheckBox::toggled, this, &TfrmIndex::cbRepeatClick);
    connect(cbShuffle, &QCheckBox::toggled, this, &TfrmIndex::cbShuffleClick);
    connect(Progres, &TProgressBar::Picked, this, &TfrmIndex::ProgresPick);
    connect(Progres, &TProgressBar::KeyPicked, this, &TfrmIndex::ProgresKey);
    connect(dragSeek_, &QTimer::timeout, this, &TfrmIndex::DragSeekTimer);
    connect(this, &TfrmIndex::StateChanged, this, &TfrmIndex::UpdateSeekable);

    // what a screen reader announces, and the keyboard's way through the window
    SetAccessible(Label2, QStringLiteral("Move"), QAccessible::Button,
                  QStringLiteral("Drag, or use the arrow keys, to move the window"));
    SetAccessible(lMenu, QStringLiteral("About"), QAccessible::Button, lMenu->toolTip());
    SetAccessible(Label5, QStringLiteral("Hide to tray"), QAccessible::Button, Label5->toolTip());
    SetAccessible(Label1, QStringLiteral("Exit"), QAccessible::Button, Label1->toolTip());
    SetAccessible(iPause, QStringLiteral("Pause"), QAccessible::Button);
    SetAccessible(iPlay, QStringLiteral("Play"), QAccessible::Button);
    SetAccessible(iStop, QStringLiteral("Stop"), QAccessible::Button);
    SetAccessible(cbRepeat, QStringLiteral("Repeat"));
    SetAccessible(cbShuffle, QStringLiteral("Shuffle"));
    SetAccessible(Image2, QStringLiteral("Mute"), QAccessible::Button);
    SetAccessible(Image3, QStringLiteral("Unmute"), QAccessible::Button);
    SetAccessible(volume, QStringLiteral("Volume"));
    SetAccessible(Label3, QStringLiteral("Open file"), QAccessible::Button);
    SetAccessible(Label4, QStringLiteral("Playlist"), QAccessible::Button);
    SetAccessible(Progres, QStringLiteral("Position"), QAccessible::ProgressBar,
                  QStringLiteral("Click or drag to seek; Left and Right go 5 seconds back and "
                                 "on, Home to the start, End near the end"));
    SetTabOrder({Label2, lMenu, Label5, Label1, iPause, iPlay, iStop, cbRepeat, cbShuffle, Image2,
                 Image3, volume, Label3, Label4, Progres});
    MarkKeyboardFocus(cbRepeat);
    MarkKeyboardFocus(cbShuffle);
    MarkKeyboardFocus(volume);
    MarkKeyboardFocus(Progres);
    OnArrowKeys(Label2, [this](QPoint step) {
        if (canPlaceWindows())
            move(pos() + step);
    });
    iPlay->setFocus();

    // files, folders and play lists dragged from a file manager
    setAcceptDrops(true);
    dropMark_ = new DropMark(this);
}

void TfrmIndex::FormCreate() {
    Tag = std::make_unique<TID3v2Tag>();
    PlayList.clear();
    if (!QFile::exists(kPatch)) {
        SaveListFile(kPatch, PlayList);
        return;
    }
    try {
        LoadListFile(kPatch, PlayList);
    } catch (const EFOpenError&) {
        listUnreadable_ = true;
        throw;
    }
    if (PlayList.size() - 1 >= LastIndex) {
        SetEntryFile(CurrentIndex);
        ++EntryLoads;
        ShowCaption();
        Player->Open();
        volume->setValue(GetVolume(*Player));
        TrackLoaded = true;
    }
}

void TfrmIndex::FormDestroy() {
    // Nothing may tick or play behind the error box a failed save shows: the tick would caption
    // the next track with the freed tag reader.
    Timer->stop();
    tStatus->stop();
    Player->Close();
    Tag.reset();
    // A list that could not be read at start-up is not overwritten with the empty one.
    if (!listUnreadable_)
        SaveListFile(kPatch, PlayList);
    PlayList.clear();
    // stale hand-over and updater files; a failed deletion does not matter
    QFile::remove(QStringLiteral("tracklist.dat"));
    dmData->Actions->RemoveStaleUpdater();
}

void TfrmIndex::Label3Click() {
    QStringList chosen;
    const bool confirmed = dmData->RunDialog(this, chosen);
    if (confirmed && std::any_of(chosen.begin(), chosen.end(), [](const QString& f) {
            return PlayListFormatOf(f) != EPlayListFormat::None;
        })) {
        // the play lists chosen are read as the entries they name; the music files as chosen
        const TListInput input = ReadListInput(this, chosen, false);
        if (input.Cancelled)
            return;
        chosen = TakeListInput(input, this);
    }
    TakeChosen(confirmed, chosen);
}

void TfrmIndex::OpenFiles(const QStringList& files) {
    if (files.isEmpty())
        return;
    TakeChosen(true, files);
    iPlayClick();
}

void TfrmIndex::OpenItems(const QStringList& items) {
    const TListInput input = ReadListInput(this, items, true);
    if (input.Cancelled)
        return; // the list stays as it was
    OpenFiles(TakeListInput(input, this));
}

void TfrmIndex::dragEnterEvent(QDragEnterEvent* event) {
    // nothing is taken while a list is being read
    if (event->source() != nullptr || !OffersFiles(*event->mimeData()) || ListInputReading() ||
        BoundedWait::Waiting()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    dropMark_->SetShown(true);
}

void TfrmIndex::dragLeaveEvent(QDragLeaveEvent* event) {
    dropMark_->SetShown(false);
    SkinnedForm::dragLeaveEvent(event);
}

void TfrmIndex::dropEvent(QDropEvent* event) {
    dropMark_->SetShown(false);
    const QByteArray uris = DroppedUris(*event->mimeData());
    event->acceptProposedAction();
    // Read after the drop has been answered: the file manager waits for that answer.
    QMetaObject::invokeMethod(
        this,
        [this, uris] {
            TApplication::RunHandler([&] {
                NoteStateChange();
                const TListInput input = ReadDroppedUris(this, uris);
                if (input.Cancelled)
                    return; // the list stays as it was
                OpenFiles(TakeListInput(input, this));
            });
        },
        Qt::QueuedConnection);
}

// OPEN FILE once the dialog has answered.
void TfrmIndex::TakeChosen(bool confirmed, const QStringList& chosen) {
    NoteStateChange();
    Player->DropPrepared();
    if (confirmed) {
        PlayList = chosen;
        LastIndex = int32_t(PlayList.size()) - 1;
        CurrentIndex = 0;
        ShuffleAnew();
    }
    // an empty list has nothing to re-open, whatever the last index recorded
    if (PlayList.isEmpty() || PlayList.size() - 1 < LastIndex)
        return;
    SetEntryFile(CurrentIndex);
    ++EntryLoads;
    ShowCaption();
    Player->Open();
    // The bar starts again with the track: left where the old one was, a Play would clamp it
    // to a shorter track's end, and the next tick would take that for the end.
    Progres->SetPosition(0);
    volume->setValue(GetVolume(*Player));
    TrackLoaded = true;
    SaveListFile(kPatch, PlayList);
    listUnreadable_ = false;
}

void TfrmIndex::iPlayClick() {
    NoteStateChange();
    if (!TrackLoaded)
        return;
    failedAdvances_ = 0;
    tStatus->start();
    // before the track starts, so even a short one is followed without a gap
    FollowingChanged();
    Player->Play();
    Progres->SetMax(Player->Length());
}

void TfrmIndex::iPauseClick() {
    NoteStateChange();
    if (!TrackLoaded)
        return;
    Player->Pause();
    tStatus->stop();
    // resumed by this button the track ends without a tick to go on: nothing is queued
    Player->DropPrepared();
}

void TfrmIndex::iStopClick() {
    NoteStateChange();
    if (!TrackLoaded)
        return;
    Player->DropPrepared();
    Player->Open();
    Progres->SetPosition(0);
    tStatus->stop();
    lInfo->clear();
}

void TfrmIndex::volumeChange() {
    NoteStateChange();
    if (!followingVolume_)
        SetVolume(*Player, volume->value());
}

void TfrmIndex::Image2Click() {
    NoteStateChange();
    SetVolume(*Player, 0);
    volume->setValue(0);
    ShowMuted(true);
}

void TfrmIndex::Image3Click() {
    NoteStateChange();
    SetVolume(*Player, 1000);
    volume->setValue(1000);
    ShowMuted(false);
}

// The volume was changed outside the player (the desktop's mixer, or the sound server restoring
// one it stored): the slider shows what is heard, and a player muted here that is heard again
// is no longer shown muted.
void TfrmIndex::PlayerVolumeChange(int32_t value) {
    NoteStateChange();
    if (Image3->isEnabled()) {
        if (value == 0)
            return;
        ShowMuted(false);
    }
    followingVolume_ = true;
    volume->setValue(value);
    followingVolume_ = false;
}

// Muted: the crossed-out speaker, and the slider locked.
void TfrmIndex::ShowMuted(bool muted) {
    ClickLabel* shown = muted ? Image2 : Image3;
    ClickLabel* next = muted ? Image3 : Image2;
    const bool focused = shown->hasFocus();
    shown->hide();
    next->setEnabled(true);
    next->show();
    shown->setEnabled(false);
    volume->setEnabled(!muted);
    if (focused) // the keyboard stays on the speaker
        next->setFocus(Qt::TabFocusReason);
}

void TfrmIndex::Label2MouseDown() {
    // Where programs may not place their windows, the platform moves it for us.
    if (!canPlaceWindows()) {
        if (QWindow* w = windowHandle())
            w->startSystemMove();
        return;
    }
    Timer->start();
}

void TfrmIndex::Label2MouseUp() {
    Timer->stop();
}

void TfrmIndex::TimerTimer() {
    move(QCursor::pos() - QPoint(12, 12));
}

void TfrmIndex::tStatusTimer() {
    // An open or a caption read waits meanwhile (the tick itself may be what waits): the next
    // tick does the work.
    if (BoundedWait::Waiting())
        return;
    NoteStateChange();
    if (Progres->Position() == Progres->Max()) {
        LastIndex = int32_t(PlayList.size()) - 1;
        bool round = false;
        const int32_t following = Following(&round);
        if (failedAdvances_ > LastIndex) {
            // every entry failed to open in a row: going round again would only fail again
            StopAtEnd();
        } else if (following < 0) {
            // Past the last entry also when the list was shortened in the editor: the next
            // entry no longer exists, so the list has ended.
            StopAtEnd();
        } else if (round && !restartPending_) {
            // Repeat comes round: the next tick, which still finds the bar at its end, starts
            // the list (or a new shuffled pass) again
            EndOfList();
        } else {
            PlayEntry(following);
        }
    }
    // With no device open (its track could not be opened) the bar stays where it is.
    if (Player->DeviceId() != 0)
        Progres->SetPosition(Player->Position());
}

void TfrmIndex::SeekTo(int32_t position) {
    NoteStateChange();
    if (!TrackLoaded || Player->DeviceId() == 0)
        return;
    const int32_t before = Player->Position();
    Player->Seek(position);
    // A track that ended just before the tick advanced: it plays on from the new place instead
    // of standing silent while the tick runs.
    if (tStatus->isActive() && Player->Mode() != pmPlaying)
        Player->Play();
    // Before the first Play the bar's range is not yet the track's.
    Progres->SetMax(Player->Length());
    const int32_t after = Player->Position();
    Progres->SetPosition(after);
    // what was queued behind the old place is dropped, and queued anew behind the new one
    FollowingChanged();
    if (after != before)
        emit Seeked();
}

void TfrmIndex::ProgresPick(double fraction, bool done) {
    if (dragDevice_ < 0)
        dragDevice_ = Player->DeviceId();
    // A drag belongs to the track it began on: once that track has ended or been stopped, the
    // rest of it is ignored (a drag held at the end would otherwise skip the next track too).
    const bool sameTrack = Player->DeviceId() != 0 && Player->DeviceId() == dragDevice_;
    if (done)
        ForgetDrag();
    if (!TrackLoaded || !sameTrack)
        return;
    const auto target = int32_t(std::lround(fraction * Player->Length()));
    if (done) {
        SeekTo(target);
    } else if (dragSeek_->isActive()) {
        pendingSeek_ = target;
    } else {
        // the sound follows the pointer, without restarting the output at every pixel
        SeekTo(target);
        dragSeek_->start();
    }
}

void TfrmIndex::DragSeekTimer() {
    if (pendingSeek_ < 0 || !Progres->Dragging() || Player->DeviceId() != dragDevice_)
        return;
    SeekTo(std::exchange(pendingSeek_, -1));
    dragSeek_->start();
}

void TfrmIndex::ProgresKey(int key) {
    if (!TrackLoaded || Player->DeviceId() == 0)
        return;
    constexpr int32_t kStep = 5000;
    switch (key) {
    case Qt::Key_Left:
        SeekTo(std::max(0, Player->Position() - kStep));
        break;
    case Qt::Key_Right:
        SeekTo(Player->Position() + kStep);
        break;
    case Qt::Key_Home:
        SeekTo(0);
        break;
    case Qt::Key_End:
        // the last seconds are heard; Right from there ends the track
        SeekTo(std::max(0, Player->Length() - kStep));
        break;
    default:
        break;
    }
}

void TfrmIndex::UpdateSeekable() {
    const bool seekable = TrackLoaded && Player->DeviceId() != 0;
    Progres->SetSeekable(seekable);
    if (!seekable)
        ForgetDrag();
}

void TfrmIndex::ForgetDrag() {
    dragSeek_->stop();
    pendingSeek_ = -1;
    dragDevice_ = -1;
}

void TfrmIndex::PlayEntry(int32_t index, bool play) {
    NoteStateChange();
    restartPending_ = false;
    ListItem(PlayList, index); // raises, before anything changes, for an index out of the list
    CurrentIndex = index;
    // the shuffled order learns what plays now; what follows it is prepared once the open has
    // taken what was prepared for this entry
    if (Shuffled()) {
        shuffle_.Played(index, cbRepeat->isChecked());
        shuffle_.Prepare(cbRepeat->isChecked());
    }
    SetEntryFile(index);
    ++EntryLoads;
    // Counted until the open succeeds. An entry that cannot be opened leaves the bar at its end,
    // so the next tick goes on to the entry after it. The open takes the prepared entry as it
    // plays where the current one has ended into it.
    if (!play)
        Player->DropPrepared();
    ++failedAdvances_;
    Player->Open();
    failedAdvances_ = 0;
    Progres->SetPosition(0);
    if (play) {
        FollowingChanged();
        Player->Play();
    }
    Progres->SetMax(Player->Length());
    ShowCaption();
}

void TfrmIndex::SkipTo(int32_t index, bool play) {
    // As at the end of a track: an entry that cannot be opened is passed by the next tick.
    if (play)
        Progres->SetPosition(Progres->Max());
    PlayEntry(index, play);
}

void TfrmIndex::EndOfList() {
    if (cbRepeat->isChecked()) {
        // the next tick still finds the bar at its end and starts again from the entry that
        // follows
        restartPending_ = true;
        return;
    }
    StopAtEnd();
}

bool TfrmIndex::Shuffled() const {
    return cbShuffle->isChecked() && shuffle_.Count() == PlayList.size() && !shuffle_.Empty();
}

int32_t TfrmIndex::Following(bool* round) const {
    *round = false;
    const auto count = int32_t(PlayList.size());
    if (count == 0)
        return -1;
    const bool repeat = cbRepeat->isChecked();
    if (Shuffled())
        return shuffle_.Following(repeat, round);
    if (CurrentIndex + 1 < count)
        return CurrentIndex + 1;
    *round = repeat;
    return repeat ? 0 : -1;
}

int32_t TfrmIndex::FollowingEntry() const {
    bool round = false;
    return Following(&round);
}

int32_t TfrmIndex::PrecedingEntry() const {
    const auto count = int32_t(PlayList.size());
    if (count == 0)
        return -1;
    const bool repeat = cbRepeat->isChecked();
    if (Shuffled())
        return shuffle_.Preceding(repeat);
    if (CurrentIndex > 0)
        return std::min(CurrentIndex, count) - 1;
    return repeat ? count - 1 : -1;
}

void TfrmIndex::FollowingChanged() {
    // the desktop's Next may have come or gone
    NoteStateChange();
    // The engine opens the entry that follows and queues it behind the current one, so that
    // its first sample follows the current one's last; only while the tick runs, which is what
    // takes it when its turn comes.
    const int32_t following = FollowingEntry();
    if (!TrackLoaded || Player->DeviceId() == 0 || !tStatus->isActive() || following < 0) {
        Player->Prepare(QString());
        return;
    }
    const QString path = ListItem(PlayList, following);
    Player->Prepare(path, Neighbour(following - 1), Neighbour(following + 1));
    PrefetchTags(path);
}

QString TfrmIndex::Neighbour(int32_t index) const {
    return index >= 0 && index < PlayList.size() ? PlayList[index] : QString();
}

void TfrmIndex::SetEntryFile(int32_t index) {
    Player->SetFileName(ListItem(PlayList, index));
    // the list's neighbours decide between the album's loudness and the track's
    Player->SetNeighbours(Neighbour(index - 1), Neighbour(index + 1));
}

void TfrmIndex::cbRepeatClick() {
    NoteStateChange();
    if (Shuffled())
        shuffle_.Prepare(cbRepeat->isChecked());
    FollowingChanged();
}

void TfrmIndex::cbShuffleClick() {
    NoteStateChange();
    if (cbShuffle->isChecked())
        ShuffleAnew();
    else
        shuffle_.Clear(); // list order on from the current entry
    FollowingChanged();
}

void TfrmIndex::ShuffleAnew() {
    if (!cbShuffle->isChecked())
        return;
    // every entry once, the current one first
    shuffle_.Start(int32_t(PlayList.size()), CurrentIndex);
    shuffle_.Prepare(cbRepeat->isChecked());
}

void TfrmIndex::ShuffleMoved(const std::vector<int32_t>& moved) {
    if (!cbShuffle->isChecked())
        return;
    if (shuffle_.Empty())
        shuffle_.Start(int32_t(PlayList.size()), CurrentIndex);
    else
        shuffle_.Remap(moved, int32_t(PlayList.size()), CurrentIndex);
    shuffle_.Prepare(cbRepeat->isChecked());
}

void TfrmIndex::StopAtEnd() {
    restartPending_ = false;
    failedAdvances_ = 0;
    tStatus->stop();
    Player->DropPrepared();
    Progres->SetPosition(0);
    // rewinds the last track; one that could not be opened is not tried again
    if (Player->DeviceId() != 0)
        Player->Open();
    lInfo->clear();
}

void TfrmIndex::Label1Click() {
    QCoreApplication::quit();
}

void TfrmIndex::ShowCaption() {
    const QString path = ListItem(PlayList, CurrentIndex);
    // read already while the track before played, or now off the GUI thread: a share that
    // stopped answering gives the failure caption
    if (prefetchedTags_.Path == path && prefetching_.isEmpty())
        ShownTags = prefetchedTags_;
    else
        ShownTags = ReadTrackTagsBounded(Tag, path);
    lInfo->setText(TrackCaption(ShownTags));
}

void TfrmIndex::PrefetchTags(const QString& path) {
    if (prefetchedTags_.Path == path || prefetching_ == path)
        return;
    prefetching_ = path;
    struct TJob {
        std::unique_ptr<TID3v2Tag> Tag = std::make_unique<TID3v2Tag>();
        TTrackTags Tags;
    };
    auto job = std::make_shared<TJob>();
    BoundedWait::Start(
        this, "ondrix-tags", [job, path] { job->Tags = ReadTrackTags(*job->Tag, path); },
        [this, job, path](BoundedWait::EResult result) {
            if (prefetching_ != path)
                return;
            prefetching_.clear();
            prefetchedTags_ =
                result == BoundedWait::EResult::Done ? job->Tags : TTrackTags{path, {}, {}};
        });
}

void TfrmIndex::NoteStateChange() {
    if (stateNoticePending_)
        return;
    stateNoticePending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            stateNoticePending_ = false;
            emit StateChanged();
        },
        Qt::QueuedConnection);
}

void TfrmIndex::Label4Clic() {
    NoteStateChange();
    // where each entry of the playback list went in the editor (-1: deleted)
    std::vector<int32_t> moved;
    {
        // the timers go on meanwhile: a playing list keeps advancing through the old entries
        TfrmTracklist editor(this);
        const auto mark = [this, &editor] {
            editor.SetPlayingEntry(TrackLoaded ? CurrentIndex : -1);
        };
        mark();
        connect(this, &TfrmIndex::StateChanged, &editor, mark);
        connect(&editor, &TfrmTracklist::PlayLineRequested, this,
                [this, &editor](int32_t row) { PlayLine(editor, row); });
        editor.exec();
        moved = editor.EntryRows(int32_t(PlayList.size()));
    }

    if (QFile::exists(kTracklist)) {
        // A saved list was opened: it becomes the playback list. Once it is taken and saved,
        // "tracklist.dat" goes, also when entry 0 cannot be opened below; otherwise every later
        // hand-over would trip over the same file.
        PlayList.clear();
        LoadListFile(kTracklist, PlayList);
        CurrentIndex = 0;
        LastIndex = int32_t(PlayList.size()) - 1;
        // the editor's lines are not this list's: its entries stay where they are
        moved.assign(PlayList.size(), -1);
        for (size_t i = 0; i < moved.size(); ++i)
            moved[i] = int32_t(i);
        ShuffleAnew();
        SaveListFile(kPatch, PlayList);
        listUnreadable_ = false;
        QFile::remove(kTracklist);
        Player->DropPrepared();
        if (PlayList.isEmpty()) {
            lInfo->clear();
        } else {
            SetEntryFile(0);
            ++EntryLoads;
            Player->Open();
            TrackLoaded = true;
            volume->setValue(GetVolume(*Player));
            ShowCaption();
        }
    }

    // deletions, additions and moves reach the playback list; the loaded track plays on, and
    // the current entry is where that track went, not the same index
    const QString current =
        CurrentIndex >= 0 && CurrentIndex < PlayList.size() ? PlayList[CurrentIndex] : QString();
    LoadListFile(kPatch, PlayList);
    listUnreadable_ = false;
    const int32_t now =
        CurrentIndex >= 0 && size_t(CurrentIndex) < moved.size() ? moved[size_t(CurrentIndex)] : -1;
    if (now >= 0 && now < PlayList.size() && PlayList[now] == current)
        CurrentIndex = now;
    // Deletions may have left the current index past the end of the list.
    CurrentIndex = std::clamp(CurrentIndex, 0, std::max(int32_t(PlayList.size()) - 1, 0));
    ShuffleMoved(moved);
    volume->setValue(GetVolume(*Player));

    if (QFile::exists(kKontrola)) {
        // tracks were added: re-open the current one (stopped, at its start)
        LastIndex = int32_t(PlayList.size()) - 1;
        // taken before the re-open, so a track that cannot be opened is reported only once
        QFile::remove(kKontrola);
        if (!PlayList.isEmpty()) {
            TrackLoaded = true;
            Player->DropPrepared();
            SetEntryFile(CurrentIndex);
            ++EntryLoads;
            Player->Open();
            ShowCaption();
        }
    }
    // the list may have changed under the entry that was to follow
    FollowingChanged();
}

void TfrmIndex::PlayLine(TfrmTracklist& editor, int32_t row) {
    NoteStateChange();
    // The editor has saved its changes so far to "patch.dat": that list becomes the playback
    // list now, as the hand-over would make it.
    const std::vector<int32_t> moved = editor.EntryRows(int32_t(PlayList.size()));
    QStringList entries = LoadListFile(kPatch);
    ListItem(entries, row);
    const QString current = CurrentIndex < PlayList.size() ? PlayList[CurrentIndex] : QString();
    PlayList = std::move(entries);
    listUnreadable_ = false;
    LastIndex = int32_t(PlayList.size()) - 1;
    const int32_t now =
        CurrentIndex >= 0 && size_t(CurrentIndex) < moved.size() ? moved[size_t(CurrentIndex)] : -1;
    CurrentIndex = now >= 0 && now < PlayList.size() && PlayList[now] == current ? now : row;
    ShuffleMoved(moved);
    editor.ListTaken();
    // the tracks added so far are in the list now: closing the editor must not re-open (and
    // so stop) the one that plays
    QFile::remove(kKontrola);
    failedAdvances_ = 0;
    // as Play does: the tick runs before the track starts, so what follows is queued at once
    const bool loaded = std::exchange(TrackLoaded, true);
    tStatus->start();
    try {
        PlayEntry(row);
    } catch (...) {
        // a line that cannot be played stops the list there, reported once
        TrackLoaded = loaded;
        tStatus->stop();
        Progres->SetPosition(0);
        throw;
    }
}

void TfrmIndex::Label5Click() {
    // Hidden with no notification area to bring it back from, the player would be lost.
    TdmData::CheckTrayAvailable();
    hide();
}

void TfrmIndex::lMenuClick() {
    auto menu = std::make_unique<TfrmMenu>(this);
    menu->exec();
}

void TfrmIndex::FormHide() {
    dmData->ShowTray(this);
}

void TfrmIndex::hideEvent(QHideEvent* event) {
    SkinnedForm::hideEvent(event);
    if (!event->spontaneous())
        FormHide();
}

void TfrmIndex::closeEvent(QCloseEvent* event) {
    // Closed by the window manager (Alt+F4, the session ending): the same as "X".
    event->ignore();
    Label1Click();
}

void TfrmIndex::reject() {
    // Escape must not hide the main window: nothing could bring it back.
}

#include "app/MainWindowControl.h"

#include "app/Application.h"
#include "app/ListInput.h"
#include "app/dmData.h"
#include "app/frmIndex.h"
#include "core/BoundedWait.h"
#include "playback/MPlayer.h"
#include "tags/ID3v2Library.h"
#include "ui/ClickLabel.h"

#include <QApplication>
#include <QCheckBox>
#include <QSlider>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

// A Wayland compositor brings a window to the front only with a token from the desktop. Qt 6.4
// takes none through its API: its Wayland plugin reads XDG_ACTIVATION_TOKEN from the
// environment when the window asks to be activated, and removes it once used. Set only for
// that call, so no program started later inherits a stale token.
void ActivateWindow(QWidget& window, const QString& token) {
    const bool withToken =
        !token.isEmpty() && QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (withToken)
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    window.activateWindow();
    if (withToken)
        qunsetenv("XDG_ACTIVATION_TOKEN");
}

} // namespace

MainWindowControl::MainWindowControl(TfrmIndex& window, QObject* parent)
    : PlayerControl(parent), window_(window) {
    connect(&window_, &TfrmIndex::StateChanged, this, &PlayerControl::Changed);
    connect(&window_, &TfrmIndex::Seeked, this, &PlayerControl::Seeked);
    // the status tick reads the box; nothing in the window handles it
    connect(window_.cbRepeat, &QCheckBox::toggled, this, &PlayerControl::Changed);
    connect(window_.cbShuffle, &QCheckBox::toggled, this, &PlayerControl::Changed);
    pendingTimer_.setInterval(250);
    pendingTimer_.setSingleShot(true);
    connect(&pendingTimer_, &QTimer::timeout, this, &MainWindowControl::TakePendingFiles);
}

MainWindowControl::~MainWindowControl() = default;

int32_t MainWindowControl::LoadedIndex() const {
    const auto count = int32_t(window_.PlayList.size());
    return count == 0 ? -1 : std::clamp(window_.CurrentIndex, 0, count - 1);
}

PlayerControl::EStatus MainWindowControl::Status() {
    if (!window_.TrackLoaded || window_.Player->DeviceId() == 0)
        return EStatus::Stopped;
    switch (window_.Player->Mode()) {
    case pmPlaying:
        return EStatus::Playing;
    case pmPaused:
        return EStatus::Paused;
    default:
        return EStatus::Stopped;
    }
}

std::optional<PlayerControl::TTrack> MainWindowControl::Track() {
    const int32_t index = LoadedIndex();
    if (!window_.TrackLoaded || index < 0)
        return std::nullopt;
    TTrack track;
    track.Load = window_.EntryLoads;
    track.Path = window_.Player->FileName();
    if (window_.ShownTags.Path == track.Path) {
        tags_ = window_.ShownTags;
    } else if (tags_.Path != track.Path) {
        ReadTags(track.Path);
    }
    if (tags_.Path == track.Path) {
        track.Title = tags_.Title;
        track.Artist = tags_.Artist;
    }
    if (window_.Player->DeviceId() != 0)
        track.Length = window_.Player->Length();
    return track;
}

// The desktop is told the track at once and its tags once they are read, off the GUI thread: a
// bus call never waits for a file.
void MainWindowControl::ReadTags(const QString& path) {
    if (readingTags_ == path)
        return;
    readingTags_ = path;
    struct TJob {
        std::unique_ptr<TID3v2Tag> Tag = std::make_unique<TID3v2Tag>();
        TTrackTags Tags;
    };
    auto job = std::make_shared<TJob>();
    job->Tags.Path = path;
    BoundedWait::Start(
        this, "ondrix-tags", [job, path] { job->Tags = ReadTrackTags(*job->Tag, path); },
        [this, job, path](BoundedWait::EResult result) {
            if (readingTags_ == path)
                readingTags_.clear();
            // one that does not answer is shown without title and artist
            tags_ = result == BoundedWait::EResult::Done ? job->Tags : TTrackTags{path, {}, {}};
            emit Changed();
        });
}

int32_t MainWindowControl::Position() {
    return window_.Player->DeviceId() != 0 ? window_.Player->Position() : 0;
}

int32_t MainWindowControl::Volume() const {
    return window_.volume->value();
}

bool MainWindowControl::Muted() const {
    return window_.Image3->isEnabled();
}

bool MainWindowControl::Repeat() const {
    return window_.cbRepeat->isChecked();
}

bool MainWindowControl::Shuffle() const {
    return window_.cbShuffle->isChecked();
}

bool MainWindowControl::CanPlay() const {
    return window_.TrackLoaded;
}

bool MainWindowControl::CanGoNext() const {
    return window_.TrackLoaded && LoadedIndex() >= 0 && window_.FollowingEntry() >= 0;
}

bool MainWindowControl::CanGoPrevious() const {
    return window_.TrackLoaded && LoadedIndex() >= 0 && window_.PrecedingEntry() >= 0;
}

bool MainWindowControl::CanSeek() const {
    return window_.TrackLoaded && window_.Player->DeviceId() != 0;
}

void MainWindowControl::Play() {
    TApplication::RunHandler([this] {
        if (Status() != EStatus::Playing)
            window_.iPlayClick();
    });
}

void MainWindowControl::Pause() {
    // The pause button resumes a paused track; a desktop's Pause never does.
    TApplication::RunHandler([this] {
        if (Status() == EStatus::Playing)
            window_.iPauseClick();
    });
}

void MainWindowControl::PlayPause() {
    TApplication::RunHandler([this] {
        if (Status() == EStatus::Playing)
            window_.iPauseClick();
        else
            window_.iPlayClick();
    });
}

void MainWindowControl::Stop() {
    TApplication::RunHandler([this] { window_.iStopClick(); });
}

void MainWindowControl::Next() {
    TApplication::RunHandler([this] {
        if (!CanGoNext())
            return;
        // what the tick's advance would play next
        window_.SkipTo(window_.FollowingEntry(), Status() == EStatus::Playing);
    });
}

void MainWindowControl::Previous() {
    TApplication::RunHandler([this] {
        if (!CanGoPrevious())
            return;
        window_.SkipTo(window_.PrecedingEntry(), Status() == EStatus::Playing);
    });
}

void MainWindowControl::SeekTo(int32_t position) {
    TApplication::RunHandler([this, position] { window_.SeekTo(position); });
}

void MainWindowControl::SetVolume(int32_t volume) {
    TApplication::RunHandler([this, volume] {
        // while muted the slider is locked, whoever moves it
        if (!Muted())
            window_.volume->setValue(volume); // its change runs the slider's handler
    });
}

void MainWindowControl::SetRepeat(bool repeat) {
    window_.cbRepeat->setChecked(repeat);
}

void MainWindowControl::SetShuffle(bool shuffle) {
    window_.cbShuffle->setChecked(shuffle);
}

void MainWindowControl::Raise(const QString& activationToken) {
    TApplication::RunHandler([this, &activationToken] {
        // hidden to the tray: back as a click on the icon brings it
        if (window_.isHidden() && dmData)
            dmData->TrayClick();
        if (window_.isMinimized())
            window_.showNormal();
        window_.show();
        window_.raise();
        // an open dialog or the editor stays in front of the window it belongs to, and gets
        // the token
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            ActivateWindow(window_, activationToken);
            return;
        }
        window_.activateWindow();
        modal->raise();
        ActivateWindow(*modal, activationToken);
    });
}

void MainWindowControl::Quit() {
    TApplication::RunHandler([this] { window_.Label1Click(); });
}

void MainWindowControl::OpenFiles(const QStringList& files) {
    if (files.isEmpty())
        return;
    pendingFiles_ = files;
    // from the event loop: whoever handed them over gets its answer first, before any error box
    QMetaObject::invokeMethod(this, &MainWindowControl::TakePendingFiles, Qt::QueuedConnection);
}

void MainWindowControl::TakePendingFiles() {
    if (pendingFiles_.isEmpty())
        return;
    // A dialog or the editor works on the list now, or a file is being opened; the files wait
    // until it is over.
    if (QApplication::activeModalWidget() || BoundedWait::Waiting() || ListInputReading()) {
        pendingTimer_.start();
        return;
    }
    const QStringList files = std::exchange(pendingFiles_, {});
    // Folders and play lists are read as the entries they give; names that do not exist or
    // cannot be played are refused with one box, and the others taken.
    TApplication::RunHandler([this, &files] { window_.OpenItems(files); });
}

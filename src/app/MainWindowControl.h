#pragma once

#include "app/PlayerControl.h"
#include "app/TrackCaption.h"

#include <QTimer>

#include <memory>

class TfrmIndex;
class TID3v2Tag;

// The player controls over the main window: every action runs the window's own handler, as a
// click on its control would, so the window's rules (the status timer, the track loaded flag,
// the locked slider while muted) hold whoever asks.
class MainWindowControl : public PlayerControl {
    Q_OBJECT
public:
    explicit MainWindowControl(TfrmIndex& window, QObject* parent = nullptr);
    ~MainWindowControl() override;

    EStatus Status() override;
    std::optional<TTrack> Track() override;
    int32_t Position() override;
    int32_t Volume() const override;
    bool Muted() const override;
    bool Repeat() const override;
    bool Shuffle() const override;
    bool CanPlay() const override;
    bool CanGoNext() const override;
    bool CanGoPrevious() const override;
    bool CanSeek() const override;

    void Play() override;
    void Pause() override;
    void PlayPause() override;
    void Stop() override;
    void Next() override;
    void Previous() override;
    void SeekTo(int32_t position) override;
    void SetVolume(int32_t volume) override;
    void SetRepeat(bool repeat) override;
    void SetShuffle(bool shuffle) override;
    void Raise(const QString& activationToken) override;
    void Quit() override;
    void OpenFiles(const QStringList& files) override;

private:
    // The current entry, or -1 with an empty list.
    int32_t LoadedIndex() const;
    void TakePendingFiles();

    // For a track whose caption the window has not read (its open failed, say).
    void ReadTags(const QString& path);

    TfrmIndex& window_;
    TTrackTags tags_;     // of the track last told, once read
    QString readingTags_; // the path whose tags are being read
    // Files that came while a dialog or the editor was open: taken when it closes.
    QStringList pendingFiles_;
    QTimer pendingTimer_;
};

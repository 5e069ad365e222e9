#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// What the desktop's player controls (MPRIS) and later starts in the same folder may see and
// do of the player: the main window's state and the actions of its buttons. Kept small so that
// the D-Bus code knows nothing of the window.
class PlayerControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    enum class EStatus { Stopped, Playing, Paused };

    struct TTrack {
        uint64_t Load = 0; // which load of an entry into the player it is, never reused
        QString Path;      // full path
        QString Title;     // from the tags, empty when the file has none
        QString Artist;
        int32_t Length = -1; // milliseconds; -1 when no device is open
        bool operator==(const TTrack&) const = default;
    };

    virtual EStatus Status() = 0;
    // The entry loaded into the device, if any.
    virtual std::optional<TTrack> Track() = 0;
    virtual int32_t Position() = 0; // milliseconds

    virtual int32_t Volume() const = 0; // the slider, 0..1000
    virtual bool Muted() const = 0;     // then the slider is locked at 0
    virtual bool Repeat() const = 0;
    virtual bool Shuffle() const = 0;

    virtual bool CanPlay() const = 0;
    virtual bool CanGoNext() const = 0;
    virtual bool CanGoPrevious() const = 0;
    // Seeking within the loaded track.
    virtual bool CanSeek() const = 0;

    // Each of these runs as an event handler: an error it raises is shown in the error box.
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void PlayPause() = 0;
    virtual void Stop() = 0;
    // To the entry that follows or precedes the current one (in the shuffled order when
    // shuffled; round the list with Repeat), playing on if it was playing.
    virtual void Next() = 0;
    virtual void Previous() = 0;
    // To `position` milliseconds in the loaded track (clamped to it), keeping play or pause.
    virtual void SeekTo(int32_t position) = 0;
    virtual void SetVolume(int32_t volume) = 0; // ignored while muted
    virtual void SetRepeat(bool repeat) = 0;
    virtual void SetShuffle(bool shuffle) = 0;
    // Shows the window (also from the tray) and brings it to the front, with the desktop's
    // activation token for the request where there is one (else empty).
    virtual void Raise(const QString& activationToken) = 0;
    // What "X" does.
    virtual void Quit() = 0;
    // The files (folders and play lists too, read as the entries they give) replace the play
    // list as a confirmed OPEN FILE does, then play starts.
    virtual void OpenFiles(const QStringList& files) = 0;

signals:
    // Something above may have changed; the listener compares.
    void Changed();
    // The position moved other than by playing: a seek, from here or from the window.
    void Seeked();
};

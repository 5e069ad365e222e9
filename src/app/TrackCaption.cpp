#include "app/TrackCaption.h"

#include "playback/FormatTags.h"
#include "core/BoundedWait.h"
#include "tags/ID3v2Library.h"

#include <atomic>
#include <mutex>
#include <vector>

const QString FailedCaption = QStringLiteral("Track - Failed to get file information.");

namespace {

std::mutex gHookLock;
std::shared_ptr<const std::function<void(const QString&)>> gHook;

} // namespace

void SetTagReadHook(std::function<void(const QString& path)> hook) {
    std::lock_guard lock(gHookLock);
    gHook = hook ? std::make_shared<const std::function<void(const QString&)>>(std::move(hook))
                 : nullptr;
}

TTrackTags ReadTrackTags(TID3v2Tag& tag, const QString& path) {
    std::shared_ptr<const std::function<void(const QString&)>> hook;
    {
        std::lock_guard lock(gHookLock);
        hook = gHook;
    }
    if (hook)
        (*hook)(path);
    // The reader never raises; a missing or tagless file simply leaves both texts empty.
    tag.LoadFromFile(path.toStdU16String());
    std::u16string title;
    std::u16string artist;
    tag.GetUnicodeText("TIT2", title);
    tag.GetUnicodeText("TPE1", artist);
    TTrackTags tags{path, QString::fromStdU16String(title), QString::fromStdU16String(artist)};
    // No ID3v2 title or artist: the file's own tags may still name it (other formats, and MPEG
    // tags our reader does not read).
    if (tags.Title.isEmpty() && tags.Artist.isEmpty())
        FormatTags::TitleArtist(path, tags.Title, tags.Artist);
    return tags;
}

QString TrackCaption(const TTrackTags& tags) {
    if (tags.Title.isEmpty() && tags.Artist.isEmpty())
        return FailedCaption;
    return tags.Artist + QLatin1String(" - ") + tags.Title;
}

QString TrackCaption(TID3v2Tag& tag, const QString& path) {
    return TrackCaption(ReadTrackTags(tag, path));
}

TTrackTags ReadTrackTagsBounded(std::unique_ptr<TID3v2Tag>& tag, const QString& path) {
    struct TJob {
        std::unique_ptr<TID3v2Tag> Tag;
        QString Path;
        TTrackTags Tags;
    };
    auto job = std::make_shared<TJob>();
    job->Tag = tag ? std::move(tag) : std::make_unique<TID3v2Tag>();
    job->Path = path;
    if (BoundedWait::Run("ondrix-tags", [job] { job->Tags = ReadTrackTags(*job->Tag, job->Path); }) ==
        BoundedWait::EResult::Done) {
        tag = std::move(job->Tag);
        return job->Tags;
    }
    tag = std::make_unique<TID3v2Tag>();
    return TTrackTags{path, {}, {}};
}

QStringList TrackCaptions(std::unique_ptr<TID3v2Tag>& tag, const QStringList& paths) {
    QStringList captions;
    captions.reserve(paths.size());
    while (captions.size() < paths.size()) {
        // What a stalled thread may still write to is its own; the captions before Done are
        // complete.
        struct TBatch {
            std::unique_ptr<TID3v2Tag> Tag;
            QStringList Paths;
            std::vector<QString> Captions;
            std::atomic<qsizetype> Done{0};
        };
        auto batch = std::make_shared<TBatch>();
        batch->Tag = tag ? std::move(tag) : std::make_unique<TID3v2Tag>();
        batch->Paths = paths.mid(captions.size());
        batch->Captions.resize(static_cast<size_t>(batch->Paths.size()));
        const BoundedWait::EResult result = BoundedWait::Run("ondrix-tags", [batch] {
            for (qsizetype i = 0; i < batch->Paths.size(); ++i) {
                batch->Captions[static_cast<size_t>(i)] =
                    TrackCaption(*batch->Tag, batch->Paths[i]);
                batch->Done.store(i + 1, std::memory_order_release);
            }
        });
        const qsizetype done = batch->Done.load(std::memory_order_acquire);
        if (result == BoundedWait::EResult::Done)
            tag = std::move(batch->Tag);
        for (qsizetype i = 0; i < done; ++i)
            captions.append(std::move(batch->Captions[static_cast<size_t>(i)]));
        if (result == BoundedWait::EResult::Stalled)
            captions.append(FailedCaption); // the file that does not answer
        else if (result == BoundedWait::EResult::Interrupted)
            while (captions.size() < paths.size())
                captions.append(FailedCaption);
    }
    if (!tag)
        tag = std::make_unique<TID3v2Tag>();
    return captions;
}

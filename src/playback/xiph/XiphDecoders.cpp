// libondrix-xiph.so: FLAC (libFLAC, native or in Ogg), Ogg Vorbis (libvorbisfile) and Opus
// (libopusfile). Loaded on the first open of such a file, so a start-up with an MP3 list maps none
// of their libraries. It reads the file only through the program's IByteReader.
#include "playback/Decoder.h"
#include "playback/MediaService.h"
#include "playback/OggStreams.h"

#include <FLAC/stream_decoder.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opus/opusfile.h>
#include <strings.h>
#include <vector>
#include <vorbis/vorbisfile.h>

namespace {

QString Unsupported(const QString& name, const char* format) {
    return QStringLiteral("The file %1 is not a supported audio file: its %2 data cannot be read.")
        .arg(name, QString::fromLatin1(format));
}

// ---- FLAC ----------------------------------------------------------------------------------

struct TFlacDeleter {
    void operator()(FLAC__StreamDecoder* p) const { FLAC__stream_decoder_delete(p); }
};

class TFlacDecoder final : public IDecoder {
public:
    static std::unique_ptr<IDecoder> Open(std::shared_ptr<IByteReader> file, bool ogg,
                                          uint32_t serial, const QString& name,
                                          TOpenFailure& failure);
    int Rate() const override { return mRate; }
    std::vector<TRatePart> RateParts() const override { return mParts; }
    const TLayout& Layout() const override { return mLayout; }
    int MaxChannels() const override { return 8; }
    int64_t LengthFrames() const override { return mFrames; }
    size_t Read(float* out, size_t frames) override;
    bool Seek(int64_t frame) override;

private:
    TFlacDecoder() = default;
    bool Start();
    bool MeasureLength();
    int64_t CountToEnd(); // frames decoded from here to the end
    bool CountWhole();    // every frame from the start, and where the rate changes
    bool DecodeMore();

    static FLAC__StreamDecoderReadStatus OnRead(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                size_t* bytes, void* self);
    static FLAC__StreamDecoderSeekStatus OnSeek(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                                void* self);
    static FLAC__StreamDecoderTellStatus OnTell(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                                void* self);
    static FLAC__StreamDecoderLengthStatus OnLength(const FLAC__StreamDecoder*,
                                                    FLAC__uint64* length, void* self);
    static FLAC__bool OnEof(const FLAC__StreamDecoder*, void* self);
    static FLAC__StreamDecoderWriteStatus OnWrite(const FLAC__StreamDecoder*, const FLAC__Frame*,
                                                  const FLAC__int32* const buffer[], void* self);
    static void OnMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata,
                           void* self);
    static void OnError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

    std::shared_ptr<IByteReader> mFile;
    std::unique_ptr<TByteCursor> mCursor;
    std::unique_ptr<FLAC__StreamDecoder, TFlacDeleter> mDecoder;
    bool mOgg = false;
    uint32_t mSerial = 0; // in Ogg: the FLAC stream's, as other streams may come first
    bool mInfo = false;
    int mRate = 0; // the stream info's, then that of the frames the last Read gave
    int mChannels = 0;
    int mBits = 0;
    std::vector<TRatePart> mParts;
    bool mMapping = false;     // counting from the start: a change of rate starts a part
    bool mOtherRate = false;   // a frame decoded at Open is of another rate than the stream info's
    uint32_t mChannelMask = 0; // WAVEFORMATEXTENSIBLE_CHANNEL_MASK, where a comment gives one
    TLayout mLayout;
    uint64_t mClaimed = 0; // what the stream info says; 0 when unknown
    int64_t mFrames = 0;
    int64_t mPosition = 0;
    bool mCounting = false; // measuring: frames are counted, not kept
    int64_t mCounted = 0;
    bool mSkipping = false; // seeking by decoding from the start: frames before mSkipTo dropped
    int64_t mSkipTo = 0;
    std::vector<float> mPending; // the frames of one FLAC frame, so of one channel count and rate
    int mPendingChannels = 0;
    int mPendingRate = 0;
    size_t mPendingAt = 0;
};

FLAC__StreamDecoderReadStatus TFlacDecoder::OnRead(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                   size_t* bytes, void* self) {
    auto* d = static_cast<TFlacDecoder*>(self);
    if (d->mFile->Abandoned())
        return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    const int64_t got = d->mCursor->Read(buffer, *bytes);
    if (got < 0)
        return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    *bytes = static_cast<size_t>(got);
    return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                    : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus TFlacDecoder::OnSeek(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                                   void* self) {
    auto* d = static_cast<TFlacDecoder*>(self);
    if (offset > static_cast<uint64_t>(d->mCursor->Length()))
        return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    d->mCursor->Seek(static_cast<int64_t>(offset), SEEK_SET);
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus TFlacDecoder::OnTell(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                                   void* self) {
    *offset = static_cast<uint64_t>(static_cast<TFlacDecoder*>(self)->mCursor->Position());
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus TFlacDecoder::OnLength(const FLAC__StreamDecoder*,
                                                       FLAC__uint64* length, void* self) {
    *length = static_cast<uint64_t>(static_cast<TFlacDecoder*>(self)->mCursor->Length());
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool TFlacDecoder::OnEof(const FLAC__StreamDecoder*, void* self) {
    const auto* d = static_cast<TFlacDecoder*>(self);
    return d->mCursor->Position() >= d->mCursor->Length() || d->mFile->Abandoned();
}

FLAC__StreamDecoderWriteStatus TFlacDecoder::OnWrite(const FLAC__StreamDecoder*,
                                                     const FLAC__Frame* frame,
                                                     const FLAC__int32* const buffer[],
                                                     void* self) {
    auto* d = static_cast<TFlacDecoder*>(self);
    const unsigned blocksize = frame->header.blocksize;
    const auto channels = static_cast<size_t>(frame->header.channels);
    const unsigned bits = frame->header.bits_per_sample;
    const auto rate = static_cast<int>(frame->header.sample_rate);
    if (channels == 0 || channels > 8 || bits < 4 || bits > 32 || rate <= 0)
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    if (!d->mInfo) {
        // no STREAMINFO: the first frame says what the stream holds
        d->mInfo = true;
        d->mRate = rate;
        d->mChannels = static_cast<int>(channels);
        d->mBits = static_cast<int>(bits);
    }
    if (d->mCounting) {
        d->mOtherRate = d->mOtherRate || rate != d->mRate;
        if (d->mMapping && (d->mParts.empty() || d->mParts.back().Rate != rate))
            d->mParts.push_back({d->mCounted, rate});
    }
    if (d->mCounting || (d->mSkipping && d->mCounted + blocksize <= d->mSkipTo)) {
        d->mCounted += blocksize;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    // Whatever was not read of the last frame (after a seek into it) goes first.
    const size_t kept = d->mPending.size() - d->mPendingAt;
    if (d->mPendingAt > 0) {
        d->mPending.erase(d->mPending.begin(),
                          d->mPending.begin() + static_cast<std::ptrdiff_t>(d->mPendingAt));
        d->mPendingAt = 0;
    }
    if (kept > 0 && (static_cast<int>(channels) != d->mPendingChannels || rate != d->mPendingRate))
        d->mPending.clear();
    d->mPendingChannels = static_cast<int>(channels);
    d->mPendingRate = rate;
    d->mPending.resize(d->mPending.size() + blocksize * channels);
    float* out = d->mPending.data() + d->mPending.size() - blocksize * channels;
    // each frame says its own depth
    const float scale = 1.0f / static_cast<float>(1u << (bits - 1));
    for (unsigned i = 0; i < blocksize; ++i)
        for (size_t c = 0; c < channels; ++c)
            *out++ = static_cast<float>(buffer[c][i]) * scale;
    if (d->mSkipping) {
        d->mPendingAt = static_cast<size_t>(d->mSkipTo - d->mCounted) * channels;
        d->mSkipping = false;
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void TFlacDecoder::OnMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata,
                              void* self) {
    auto* d = static_cast<TFlacDecoder*>(self);
    if (metadata->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
        const auto& comments = metadata->data.vorbis_comment;
        constexpr char kMask[] = "WAVEFORMATEXTENSIBLE_CHANNEL_MASK=";
        for (FLAC__uint32 i = 0; i < comments.num_comments; ++i) {
            const auto& entry = comments.comments[i];
            if (entry.length > sizeof kMask - 1 &&
                strncasecmp(reinterpret_cast<const char*>(entry.entry), kMask, sizeof kMask - 1) ==
                    0)
                d->mChannelMask = static_cast<uint32_t>(std::strtoul(
                    reinterpret_cast<const char*>(entry.entry) + sizeof kMask - 1, nullptr, 0));
        }
        return;
    }
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO || d->mInfo)
        return;
    const auto& info = metadata->data.stream_info;
    d->mInfo = true;
    d->mRate = static_cast<int>(info.sample_rate);
    d->mChannels = static_cast<int>(info.channels);
    d->mBits = static_cast<int>(info.bits_per_sample);
    d->mClaimed = info.total_samples;
}

bool TFlacDecoder::Start() {
    mDecoder.reset(FLAC__stream_decoder_new());
    if (!mDecoder)
        return false;
    FLAC__stream_decoder_set_md5_checking(mDecoder.get(), false);
    if (mOgg)
        FLAC__stream_decoder_set_ogg_serial_number(mDecoder.get(), static_cast<long>(mSerial));
    FLAC__stream_decoder_set_metadata_respond(mDecoder.get(), FLAC__METADATA_TYPE_VORBIS_COMMENT);
    const auto init =
        mOgg ? &FLAC__stream_decoder_init_ogg_stream : &FLAC__stream_decoder_init_stream;
    return init(mDecoder.get(), &OnRead, &OnSeek, &OnTell, &OnLength, &OnEof, &OnWrite, &OnMetadata,
                &OnError, this) == FLAC__STREAM_DECODER_INIT_STATUS_OK &&
           FLAC__stream_decoder_process_until_end_of_metadata(mDecoder.get());
}

int64_t TFlacDecoder::CountToEnd() {
    mCounting = true;
    mCounted = 0;
    bool ok = true;
    while (ok &&
           FLAC__stream_decoder_get_state(mDecoder.get()) != FLAC__STREAM_DECODER_END_OF_STREAM)
        ok = FLAC__stream_decoder_process_single(mDecoder.get());
    mCounting = false;
    return mCounted; // a rest that cannot be decoded is not played either
}

bool TFlacDecoder::CountWhole() {
    mPending.clear();
    mPendingAt = 0;
    mParts.clear();
    if (!FLAC__stream_decoder_reset(mDecoder.get()) ||
        !FLAC__stream_decoder_process_until_end_of_metadata(mDecoder.get()))
        return false;
    mMapping = true;
    mFrames = CountToEnd();
    mMapping = false;
    return FLAC__stream_decoder_reset(mDecoder.get()) &&
           FLAC__stream_decoder_process_until_end_of_metadata(mDecoder.get());
}

// The stream info's count is taken when its last sample is really there, nothing follows and
// the last frame is of its rate; otherwise (0 for unknown, a cut file, a count that lies, a
// stream that ends at another rate) every frame is counted, which also finds where the rate
// changes. The common file is thus measured from a frame or two. (A stream that changes its
// rate and comes back to it before the end, with a count that holds, is taken as one rate: it
// still plays each part at its pitch, as Read stops at each change, but its length and
// positions are at the one rate.)
bool TFlacDecoder::MeasureLength() {
    mOtherRate = false;
    if (mClaimed > 0 && FLAC__stream_decoder_seek_absolute(mDecoder.get(), mClaimed - 1)) {
        const int64_t last =
            static_cast<int64_t>(mPending.size() - mPendingAt) / std::max(1, mPendingChannels);
        mOtherRate = mPendingRate != mRate;
        mPending.clear();
        mPendingAt = 0;
        if (last >= 1) {
            mFrames = static_cast<int64_t>(mClaimed) - 1 + last + CountToEnd();
            if (!mOtherRate) {
                mParts = {{0, mRate}};
                return FLAC__stream_decoder_reset(mDecoder.get()) &&
                       FLAC__stream_decoder_process_until_end_of_metadata(mDecoder.get());
            }
        }
    }
    if (!CountWhole())
        return false;
    if (mParts.empty())
        mParts = {{0, mRate}};
    mRate = mParts.front().Rate; // what the first Read gives
    return true;
}

std::unique_ptr<IDecoder> TFlacDecoder::Open(std::shared_ptr<IByteReader> file, bool ogg,
                                             uint32_t serial, const QString& name,
                                             TOpenFailure& failure) {
    std::unique_ptr<TFlacDecoder> d(new TFlacDecoder());
    d->mFile = std::move(file);
    d->mOgg = ogg;
    d->mSerial = serial;
    d->mCursor = std::make_unique<TByteCursor>(*d->mFile, 0, d->mFile->Size());
    if (!d->Start())
        return Failed(failure, MediaService::mseUnsupportedFile, Unsupported(name, "FLAC"));
    // Frames without the metadata before them (libFLAC finds their sync): what the first one
    // that decodes says is taken, and the length is what decodes to the end.
    if (!d->mInfo) {
        d->mCounting = true;
        while (!d->mInfo && FLAC__stream_decoder_get_state(d->mDecoder.get()) !=
                                FLAC__STREAM_DECODER_END_OF_STREAM)
            if (!FLAC__stream_decoder_process_single(d->mDecoder.get()))
                break;
        d->mCounting = false;
        if (!d->mInfo)
            return Failed(failure, MediaService::mseUnsupportedFile, Unsupported(name, "FLAC"));
    }
    if (d->mRate <= 0 || d->mChannels <= 0 || d->mChannels > 8 || d->mBits < 4 || d->mBits > 32)
        return Failed(failure, MediaService::mseUnsupportedFile, Unsupported(name, "FLAC"));
    d->mLayout = d->mChannelMask != 0 ? LayoutOfMask(d->mChannelMask, d->mChannels)
                                      : DefaultLayout(d->mChannels);
    d->mPendingChannels = d->mChannels;
    d->mPendingRate = d->mRate;
    if (!d->MeasureLength())
        return Failed(failure, MediaService::mseDecoderFailed,
                      QStringLiteral("The file %1 cannot be played from its start.").arg(name));
    if (d->mFrames <= 0)
        return Failed(failure, MediaService::mseNoAudio, NoAudioText(name));
    return d;
}

bool TFlacDecoder::DecodeMore() {
    while (mPendingAt >= mPending.size()) {
        if (FLAC__stream_decoder_get_state(mDecoder.get()) == FLAC__STREAM_DECODER_END_OF_STREAM ||
            !FLAC__stream_decoder_process_single(mDecoder.get()))
            return false;
    }
    return true;
}

size_t TFlacDecoder::Read(float* out, size_t frames) {
    frames =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), mFrames - mPosition));
    size_t got = 0;
    while (got < frames && DecodeMore()) {
        // A stream whose channel count or rate changes part-way: the frames of one count and
        // rate at a time.
        if (mPendingChannels != Channels() || mPendingRate != mRate) {
            if (got > 0)
                break;
            mLayout = mPendingChannels == mChannels && mChannelMask != 0
                          ? LayoutOfMask(mChannelMask, mChannels)
                          : DefaultLayout(mPendingChannels);
            mRate = mPendingRate;
        }
        const auto channels = static_cast<size_t>(mPendingChannels);
        const size_t n = std::min(frames - got, (mPending.size() - mPendingAt) / channels);
        std::memcpy(out + got * channels, mPending.data() + mPendingAt,
                    n * channels * sizeof(float));
        mPendingAt += n * channels;
        got += n;
    }
    mPosition += static_cast<int64_t>(got);
    return got;
}

bool TFlacDecoder::Seek(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, mFrames);
    mPending.clear();
    mPendingAt = 0;
    mPosition = frame;
    if (frame == mFrames)
        return true;
    if (FLAC__stream_decoder_seek_absolute(mDecoder.get(), static_cast<uint64_t>(frame)))
        return true;
    FLAC__stream_decoder_flush(mDecoder.get());
    mPending.clear();
    if (mClaimed > 0)
        return false;
    // libFLAC seeks only where STREAMINFO gives the count: else decode from the start to there
    if (!FLAC__stream_decoder_reset(mDecoder.get()) ||
        !FLAC__stream_decoder_process_until_end_of_metadata(mDecoder.get()))
        return false;
    mSkipping = true;
    mSkipTo = frame;
    mCounted = 0;
    while (mSkipping &&
           FLAC__stream_decoder_get_state(mDecoder.get()) != FLAC__STREAM_DECODER_END_OF_STREAM)
        if (!FLAC__stream_decoder_process_single(mDecoder.get()))
            break;
    if (!mSkipping)
        return true;
    mSkipping = false;
    mPending.clear();
    mPendingAt = 0;
    return false;
}

// ---- Ogg Vorbis ----------------------------------------------------------------------------

size_t VorbisRead(void* out, size_t size, size_t count, void* cursor) {
    auto* c = static_cast<TByteCursor*>(cursor);
    if (c->Reader().Abandoned())
        return 0;
    const int64_t got = c->Read(out, size * count);
    if (got < 0) {
        errno = EIO;
        return 0;
    }
    return size == 0 ? 0 : static_cast<size_t>(got) / size;
}

int VorbisSeek(void* cursor, ogg_int64_t offset, int whence) {
    return static_cast<TByteCursor*>(cursor)->Seek(offset, whence) < 0 ? -1 : 0;
}

long VorbisTell(void* cursor) {
    return static_cast<long>(static_cast<TByteCursor*>(cursor)->Position());
}

// The first frames of a chained stream's next link, of another rate or layout, decoded while a
// Read was filling with the link before: they open the next Read, in their own format.
struct TLinkStart {
    std::vector<float> Samples;
    size_t At = 0; // the next sample to hand over
    int Link = -1;

    bool Holds() const { return At < Samples.size(); }
    void Clear() {
        Samples.clear();
        At = 0;
        Link = -1;
    }
    // Copies up to `frames` frames of `channels` into `out`; returns how many.
    size_t Give(float* out, size_t frames, int channels) {
        const auto width = static_cast<size_t>(channels);
        const size_t n = std::min(frames, (Samples.size() - At) / width);
        std::copy_n(Samples.begin() + static_cast<std::ptrdiff_t>(At), n * width, out);
        At += n * width;
        if (!Holds())
            Clear();
        return n;
    }
};

class TVorbisDecoder final : public IDecoder {
public:
    static std::unique_ptr<IDecoder> Open(std::shared_ptr<IByteReader> file, const QString& name,
                                          TOpenFailure& failure);
    ~TVorbisDecoder() override {
        if (mOpen)
            ov_clear(&mVorbis);
    }
    int Rate() const override { return mRate; }
    std::vector<TRatePart> RateParts() const override { return mParts; }
    const TLayout& Layout() const override { return mLayout; }
    int MaxChannels() const override { return mMaxChannels; }
    int64_t LengthFrames() const override { return mFrames; }
    size_t Read(float* out, size_t frames) override;
    bool Seek(int64_t frame) override;

private:
    TVorbisDecoder() = default;
    void UseLink(int link);

    std::shared_ptr<IByteReader> mFile;
    std::unique_ptr<TByteCursor> mCursor;
    OggVorbis_File mVorbis{};
    bool mOpen = false;
    int mLink = 0; // the chain's link the last Read gave frames of
    int mRate = 0;
    int mChannels = 0;
    int mMaxChannels = 0;
    TLayout mLayout;
    std::vector<TRatePart> mParts;
    int64_t mFrames = 0;
    int64_t mPosition = 0;
    TLinkStart mHeld;
};

std::unique_ptr<IDecoder> TVorbisDecoder::Open(std::shared_ptr<IByteReader> file,
                                               const QString& name, TOpenFailure& failure) {
    std::unique_ptr<TVorbisDecoder> d(new TVorbisDecoder());
    d->mFile = std::move(file);
    d->mCursor = std::make_unique<TByteCursor>(*d->mFile, 0, d->mFile->Size());
    const ov_callbacks callbacks{&VorbisRead, &VorbisSeek, nullptr, &VorbisTell};
    if (ov_open_callbacks(d->mCursor.get(), &d->mVorbis, nullptr, 0, callbacks) != 0)
        return Failed(failure, MediaService::mseUnsupportedFile, Unsupported(name, "Ogg Vorbis"));
    d->mOpen = true;
    // Each link of a chain in its own rate and layout. Its length is its last page's granule
    // position: exact, as the encoder trimmed the last packet to it. A link that cannot be
    // played ends the stream.
    const long links = ov_streams(&d->mVorbis);
    for (long link = 0; link < links; ++link) {
        const vorbis_info* info = ov_info(&d->mVorbis, static_cast<int>(link));
        const int64_t frames = ov_pcm_total(&d->mVorbis, static_cast<int>(link));
        if (info == nullptr || info->rate <= 0 || info->channels <= 0 || frames < 0)
            break;
        if (d->mParts.empty() || d->mParts.back().Rate != info->rate)
            d->mParts.push_back({d->mFrames, static_cast<int>(info->rate)});
        d->mMaxChannels = std::max(d->mMaxChannels, info->channels);
        d->mFrames += frames;
    }
    if (d->mParts.empty())
        return Failed(failure, MediaService::mseUnsupportedFile, Unsupported(name, "Ogg Vorbis"));
    if (d->mFrames <= 0)
        return Failed(failure, MediaService::mseNoAudio, NoAudioText(name));
    d->UseLink(0);
    return d;
}

// libvorbisfile's planar frames, interleaved
void Interleave(float* const* pcm, long frames, int channels, float* to) {
    for (long i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            *to++ = pcm[c][i];
}

void TVorbisDecoder::UseLink(int link) {
    const vorbis_info* info = ov_info(&mVorbis, link);
    mLink = link;
    mRate = static_cast<int>(info->rate);
    mChannels = info->channels;
    mLayout = VorbisLayout(info->channels);
}

size_t TVorbisDecoder::Read(float* out, size_t frames) {
    frames =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), mFrames - mPosition));
    size_t got = 0;
    if (mHeld.Holds()) {
        UseLink(mHeld.Link);
        got = mHeld.Give(out, frames, mChannels);
    }
    while (got < frames && !mHeld.Holds()) {
        int link = 0;
        float** pcm = nullptr;
        const long n = ov_read_float(&mVorbis, &pcm, static_cast<int>(frames - got), &link);
        if (n == OV_HOLE)
            continue; // a damaged page was skipped
        if (n <= 0)
            break;
        if (link != mLink) {
            const vorbis_info* info = ov_info(&mVorbis, link);
            if (info == nullptr || info->rate <= 0 || info->channels <= 0 ||
                info->channels > mMaxChannels)
                break; // a link Open did not count
            const bool same = info->rate == mRate && info->channels == mChannels;
            if (same || got == 0) {
                UseLink(link);
            } else {
                // the new link's frames wait for the next Read, in their own format
                mHeld.Link = link;
                mHeld.Samples.resize(static_cast<size_t>(n * info->channels));
                Interleave(pcm, n, info->channels, mHeld.Samples.data());
                break;
            }
        }
        Interleave(pcm, n, mChannels, out + got * static_cast<size_t>(mChannels));
        got += static_cast<size_t>(n);
    }
    mPosition += static_cast<int64_t>(got);
    return got;
}

bool TVorbisDecoder::Seek(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, mFrames);
    mPosition = frame;
    mHeld.Clear();
    if (frame == mFrames)
        return true;
    if (ov_pcm_seek(&mVorbis, frame) != 0)
        return false;
    UseLink(mVorbis.current_link);
    return true;
}

// ---- Opus ----------------------------------------------------------------------------------

int OpusRead(void* cursor, unsigned char* out, int size) {
    auto* c = static_cast<TByteCursor*>(cursor);
    if (c->Reader().Abandoned())
        return -1;
    const int64_t got = c->Read(out, static_cast<size_t>(size));
    return got < 0 ? -1 : static_cast<int>(got);
}

int OpusSeek(void* cursor, opus_int64 offset, int whence) {
    return static_cast<TByteCursor*>(cursor)->Seek(offset, whence) < 0 ? -1 : 0;
}

opus_int64 OpusTell(void* cursor) {
    return static_cast<TByteCursor*>(cursor)->Position();
}

struct TOpusDeleter {
    void operator()(OggOpusFile* p) const { op_free(p); }
};

class TOpusDecoder final : public IDecoder {
public:
    static std::unique_ptr<IDecoder> Open(std::shared_ptr<IByteReader> file, const QString& name,
                                          TOpenFailure& failure);
    int Rate() const override { return 48000; } // Opus always decodes at 48 kHz
    const TLayout& Layout() const override { return mLayout; }
    int MaxChannels() const override { return mMaxChannels; }
    int64_t LengthFrames() const override { return mFrames; }
    size_t Read(float* out, size_t frames) override;
    bool Seek(int64_t frame) override;

private:
    TOpusDecoder() = default;
    TLayout LayoutOf(int link) const;
    void UseLink(int link) {
        mLink = link;
        mLayout = LayoutOf(link);
        mChannels = static_cast<int>(mLayout.size());
    }

    std::shared_ptr<IByteReader> mFile;
    std::unique_ptr<TByteCursor> mCursor;
    std::unique_ptr<OggOpusFile, TOpusDeleter> mOpus;
    int mLink = 0; // the chain's link the last Read gave frames of
    int mChannels = 0;
    int mMaxChannels = 0;
    TLayout mLayout;
    int64_t mFrames = 0;
    int64_t mPosition = 0;
    TLinkStart mHeld;
};

std::unique_ptr<IDecoder> TOpusDecoder::Open(std::shared_ptr<IByteReader> file, const QString& name,
                                             TOpenFailure& failure) {
    std::unique_ptr<TOpusDecoder> d(new TOpusDecoder());
    d->mFile = std::move(file);
    d->mCursor = std::make_unique<TByteCursor>(*d->mFile, 0, d->mFile->Size());
    const OpusFileCallbacks callbacks{&OpusRead, &OpusSeek, &OpusTell, nullptr};
    int err = 0;
    d->mOpus.reset(op_open_callbacks(d->mCursor.get(), &callbacks, nullptr, 0, &err));
    if (!d->mOpus)
        return Failed(failure, MediaService::mseUnsupportedFile, Unsupported(name, "Opus"));
    // The last granule position less the pre-skip, over every link.
    d->mFrames = op_pcm_total(d->mOpus.get(), -1);
    const int links = op_link_count(d->mOpus.get());
    for (int link = 0; link < links; ++link)
        d->mMaxChannels = std::max(d->mMaxChannels, op_channel_count(d->mOpus.get(), link));
    if (d->mMaxChannels <= 0)
        return Failed(failure, MediaService::mseUnsupportedFile, Unsupported(name, "Opus"));
    if (d->mFrames <= 0)
        return Failed(failure, MediaService::mseNoAudio, NoAudioText(name));
    d->UseLink(0);
    return d;
}

// Family 0 is mono or stereo, family 1 Vorbis's order; the others name no speakers.
TLayout TOpusDecoder::LayoutOf(int link) const {
    const int channels = op_channel_count(mOpus.get(), link);
    const OpusHead* head = op_head(mOpus.get(), link);
    const int family = head != nullptr ? head->mapping_family : 0;
    return family == 1                    ? VorbisLayout(channels)
           : family == 0 || channels <= 2 ? DefaultLayout(channels)
                                          : TLayout(static_cast<size_t>(channels), ESpeaker::None);
}

size_t TOpusDecoder::Read(float* out, size_t frames) {
    frames =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), mFrames - mPosition));
    size_t got = 0;
    if (mHeld.Holds()) {
        UseLink(mHeld.Link);
        got = mHeld.Give(out, frames, mChannels);
    }
    while (got < frames && !mHeld.Holds()) {
        int link = 0;
        // room for frames of the link before, so never more than the buffer holds
        float* to = out + got * static_cast<size_t>(mChannels);
        const int n =
            op_read_float(mOpus.get(), to,
                          static_cast<int>((frames - got) * static_cast<size_t>(mChannels)), &link);
        if (n == OP_HOLE)
            continue; // a damaged page was skipped
        if (n <= 0)
            break; // the end, or an unreadable rest
        if (link != mLink) {
            if (LayoutOf(link) == mLayout || got == 0) {
                UseLink(link);
            } else {
                // the new link's frames wait for the next Read, in their own layout
                mHeld.Link = link;
                const auto count = static_cast<size_t>(n * op_channel_count(mOpus.get(), link));
                mHeld.Samples.assign(to, to + count);
                break;
            }
        }
        got += static_cast<size_t>(n);
    }
    mPosition += static_cast<int64_t>(got);
    return got;
}

bool TOpusDecoder::Seek(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, mFrames);
    mPosition = frame;
    mHeld.Clear();
    if (frame == mFrames)
        return true;
    if (op_pcm_seek(mOpus.get(), frame) != 0)
        return false;
    UseLink(op_current_link(mOpus.get()));
    return true;
}

// ---- the module ----------------------------------------------------------------------------

class TXiphModule final : public IDecoderModule {
public:
    std::unique_ptr<IDecoder> Open(std::shared_ptr<IByteReader> file, const QString& fileName,
                                   TOpenFailure& failure) override {
        const QString name = QuotedFileName(fileName);
        // An Ogg file's streams' first packets name their codecs (a film's video may come
        // first); FLAC may follow an ID3v2 tag, which libFLAC skips.
        uint8_t head[4] = {};
        if (file->ReadAt(0, head, sizeof head) == sizeof head &&
            std::memcmp(head, "OggS", 4) == 0) {
            const TOggAudio audio = FindOggAudio(*file);
            switch (audio.Kind) {
            case TOggAudio::EKind::Opus:
                return TOpusDecoder::Open(std::move(file), name, failure);
            case TOggAudio::EKind::Vorbis:
                return TVorbisDecoder::Open(std::move(file), name, failure);
            case TOggAudio::EKind::Flac:
                return TFlacDecoder::Open(std::move(file), true, audio.Serial, name, failure);
            case TOggAudio::EKind::None:
                break;
            }
            return Failed(failure, MediaService::mseUnsupportedFile,
                          QStringLiteral("The file %1 uses an audio format that cannot be played "
                                         "(an Ogg stream that is not Vorbis, Opus or FLAC).")
                              .arg(name));
        }
        return TFlacDecoder::Open(std::move(file), false, 0, name, failure);
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) IDecoderModule* OndrixDecoderModule(int version) {
    static TXiphModule module;
    return version == kDecoderModuleVersion ? &module : nullptr;
}

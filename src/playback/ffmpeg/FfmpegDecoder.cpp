// libondrix-ffmpeg.so: WMA, and AAC and ALAC in MP4 (M4A), through FFmpeg. Loaded on the first
// open of such a file, so a start-up with an MP3 or WAV list never maps FFmpeg's hundred
// libraries. It reads the file only through the program's IByteReader.
#include "playback/AudioFormats.h"
#include "playback/Decoder.h"
#include "playback/MediaService.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
#include <libswresample/swresample.h>
}

namespace {

struct TAvFormatCloser {
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct TAvioFreer {
    void operator()(AVIOContext* p) const {
        av_freep(&p->buffer);
        avio_context_free(&p);
    }
};
struct TAvCodecFreer {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct TAvPacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TAvFrameFreer {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct TSwrFreer {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
using TAvFormatPtr = std::unique_ptr<AVFormatContext, TAvFormatCloser>;
using TAvioPtr = std::unique_ptr<AVIOContext, TAvioFreer>;
using TAvCodecPtr = std::unique_ptr<AVCodecContext, TAvCodecFreer>;
using TAvPacketPtr = std::unique_ptr<AVPacket, TAvPacketFreer>;
using TAvFramePtr = std::unique_ptr<AVFrame, TAvFrameFreer>;
using TSwrPtr = std::unique_ptr<SwrContext, TSwrFreer>;

constexpr int kIoBuffer = 64 * 1024;

// FFmpeg's text for an error code.
QString AvErrorText(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(err, text, sizeof text) < 0)
        return QStringLiteral("FFmpeg error %1").arg(err);
    return QString::fromUtf8(text);
}

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
    const int64_t got = static_cast<TByteCursor*>(opaque)->Read(buffer, static_cast<size_t>(size));
    if (got < 0)
        return AVERROR(EIO);
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

int64_t SeekPacket(void* opaque, int64_t offset, int whence) {
    auto* cursor = static_cast<TByteCursor*>(opaque);
    if ((whence & AVSEEK_SIZE) != 0)
        return cursor->Length();
    return cursor->Seek(offset, whence & ~AVSEEK_FORCE);
}

// A closed device's decoder gives up at the next chance instead of reading on.
int Interrupted(void* opaque) {
    return static_cast<IByteReader*>(opaque)->Abandoned() ? 1 : 0;
}

// The size and type of the box at `at` (its payload from `body` to `end`); false past `limit` or
// where the box does not fit.
bool ReadBox(IByteReader& file, int64_t at, int64_t limit, char type[4], int64_t& body,
             int64_t& end) {
    uint8_t h[16] = {};
    if (at + 8 > limit || file.ReadAt(at, h, sizeof h) < 8)
        return false;
    uint64_t size = AV_RB32(h);
    body = at + 8;
    if (size == 1) {
        size = AV_RB64(h + 8);
        body = at + 16;
    } else if (size == 0) {
        size = static_cast<uint64_t>(limit - at);
    }
    std::memcpy(type, h + 4, 4);
    end = at + static_cast<int64_t>(size);
    return size >= static_cast<uint64_t>(body - at) && end <= limit;
}

// Whether the MP4 track `trackId` has an edit list: only then is the encoder's priming that
// FFmpeg finds (the edit's start, or iTunSMPB) the file's own word. A track without one (nor
// iTunSMPB) plays whole, as its sample table has it.
bool HasEditList(IByteReader& file, int trackId) {
    const int64_t size = file.Size();
    char type[4];
    int64_t body = 0;
    int64_t end = 0;
    int64_t at = 0;
    while (ReadBox(file, at, size, type, body, end) && std::memcmp(type, "moov", 4) != 0)
        at = end;
    if (std::memcmp(type, "moov", 4) != 0)
        return false;
    const int64_t moovEnd = end;
    for (int64_t trak = body; ReadBox(file, trak, moovEnd, type, body, end); trak = end) {
        if (std::memcmp(type, "trak", 4) != 0)
            continue;
        const int64_t trakEnd = end;
        int id = -1;
        bool edits = false;
        for (int64_t child = body; ReadBox(file, child, trakEnd, type, body, end); child = end) {
            if (std::memcmp(type, "tkhd", 4) == 0) {
                uint8_t h[24] = {};
                if (file.ReadAt(body, h, sizeof h) == sizeof h)
                    id = static_cast<int>(h[0] == 1 ? AV_RB32(h + 20) : AV_RB32(h + 12));
            } else if (std::memcmp(type, "edts", 4) == 0) {
                int64_t elstBody = 0;
                int64_t elstEnd = 0;
                edits = ReadBox(file, body, end, type, elstBody, elstEnd) &&
                        std::memcmp(type, "elst", 4) == 0;
            }
        }
        if (id == trackId)
            return edits;
    }
    return false;
}

class TFfmpegDecoder final : public IDecoder {
public:
    static std::unique_ptr<IDecoder> Open(std::shared_ptr<IByteReader> file,
                                          const QString& fileName, TOpenFailure& failure);
    ~TFfmpegDecoder() override = default;

    int Rate() const override { return mRate; }
    const TLayout& Layout() const override { return mLayout; }
    int64_t LengthFrames() const override { return mFrames; }
    size_t Read(float* out, size_t frames) override;
    bool Seek(int64_t frame) override;

private:
    TFfmpegDecoder() = default;
    bool Fail(TOpenFailure& failure, int32_t code, const QString& text) {
        failure.Code = code;
        failure.Text = text;
        return false;
    }
    bool OpenStream(const QString& name, TOpenFailure& failure);
    bool MeasureLength(const QString& name, TOpenFailure& failure);
    int OpenCodec();
    bool Rewind();
    bool DecodeMore();
    bool Convert(const AVFrame* frame);

    std::shared_ptr<IByteReader> mFile;
    std::unique_ptr<TByteCursor> mCursor;
    TAvioPtr mIo;
    TAvFormatPtr mFormat;
    TAvCodecPtr mCodec;
    TAvPacketPtr mPacket;
    TAvFramePtr mFrame;
    TSwrPtr mResampler;
    int mStreamIndex = -1;
    int mRate = 0;
    int mChannels = 0;
    TLayout mLayout;
    int64_t mFrames = 0;
    int64_t mPosition = 0;
    int64_t mSkip = 0; // frames still to drop after a seek
    bool mDrained = false;
    bool mMp4 = false;
    // MP4: the priming and padding FFmpeg finds are dropped only where the file says them (an
    // edit list or iTunSMPB); the decoder leaves them to us.
    bool mTrimmed = false;
    int64_t mFirstDts = 0;       // where an MP4's packets start, in frames
    std::vector<float> mPending; // decoded, not yet read
    size_t mPendingAt = 0;       // in samples
};

std::unique_ptr<IDecoder> TFfmpegDecoder::Open(std::shared_ptr<IByteReader> file,
                                               const QString& fileName, TOpenFailure& failure) {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET); // the reasons reach the user in our own error texts
        return true;
    }();
    (void)quiet;
    std::unique_ptr<TFfmpegDecoder> decoder(new TFfmpegDecoder());
    decoder->mFile = std::move(file);
    const QString name = QuotedFileName(fileName);
    if (!decoder->OpenStream(name, failure) || !decoder->MeasureLength(name, failure))
        return nullptr;
    return decoder;
}

bool TFfmpegDecoder::OpenStream(const QString& name, TOpenFailure& failure) {
    const QString unsupported = AudioFormats::NotSupported(name);
    mCursor = std::make_unique<TByteCursor>(*mFile, 0, mFile->Size());
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBuffer));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, kIoBuffer, 0, mCursor.get(), &ReadPacket,
                                                  nullptr, &SeekPacket)
                             : nullptr;
    if (io == nullptr) {
        av_free(buffer);
        return Fail(failure, MediaService::mseOutOfMemory, QStringLiteral("Out of memory."));
    }
    mIo.reset(io);
    AVFormatContext* format = avformat_alloc_context();
    if (format == nullptr)
        return Fail(failure, MediaService::mseOutOfMemory, QStringLiteral("Out of memory."));
    format->pb = mIo.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->interrupt_callback = {&Interrupted, mFile.get()};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", "asf,mov", 0);
    int err = avformat_open_input(&format, nullptr, nullptr, &options);
    av_dict_free(&options);
    if (err < 0) // avformat_open_input freed the context
        return Fail(failure, MediaService::mseUnsupportedFile,
                    err == AVERROR_INVALIDDATA || err == AVERROR(EINVAL)
                        ? unsupported + QLatin1Char('.')
                        : QStringLiteral("%1: %2.").arg(unsupported, AvErrorText(err)));
    mFormat.reset(format);

    mStreamIndex = av_find_best_stream(mFormat.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVCodecParameters* params =
        mStreamIndex >= 0 ? mFormat->streams[mStreamIndex]->codecpar : nullptr;
    // The header normally says all we need; only then is the costly stream analysis skipped.
    if (params == nullptr || params->sample_rate <= 0 || params->ch_layout.nb_channels <= 0) {
        err = avformat_find_stream_info(mFormat.get(), nullptr);
        if (err < 0)
            return Fail(failure, MediaService::mseUnsupportedFile,
                        QStringLiteral("%1: %2.").arg(unsupported, AvErrorText(err)));
        mStreamIndex = av_find_best_stream(mFormat.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        params = mStreamIndex >= 0 ? mFormat->streams[mStreamIndex]->codecpar : nullptr;
    }
    if (params == nullptr || params->sample_rate <= 0 || params->ch_layout.nb_channels <= 0)
        return Fail(failure, MediaService::mseNoAudio,
                    QStringLiteral("The file %1 contains no audio.").arg(name));
    for (unsigned i = 0; i < mFormat->nb_streams; ++i)
        if (static_cast<int>(i) != mStreamIndex)
            mFormat->streams[i]->discard = AVDISCARD_ALL;

    const AVCodec* codec = avcodec_find_decoder(params->codec_id);
    if (codec == nullptr)
        return Fail(failure, MediaService::mseUnsupportedFile,
                    QStringLiteral("The file %1 uses an audio format that cannot be played (%2).")
                        .arg(name, QString::fromUtf8(avcodec_get_name(params->codec_id))));
    mPacket.reset(av_packet_alloc());
    mFrame.reset(av_frame_alloc());
    err = OpenCodec();
    if (err == AVERROR(ENOMEM) || !mPacket || !mFrame)
        return Fail(failure, MediaService::mseOutOfMemory, QStringLiteral("Out of memory."));
    if (err < 0)
        return Fail(
            failure, MediaService::mseDecoderFailed,
            QStringLiteral("The audio of %1 cannot be decoded: %2.").arg(name, AvErrorText(err)));
    mRate = params->sample_rate;
    mChannels = params->ch_layout.nb_channels;
    // FFmpeg's native order is WAVE's, bit for bit
    mLayout = params->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                  ? LayoutOfMask(static_cast<uint32_t>(params->ch_layout.u.mask), mChannels)
                  : DefaultLayout(mChannels);
    return true;
}

bool TFfmpegDecoder::MeasureLength(const QString& name, TOpenFailure& failure) {
    AVStream* stream = mFormat->streams[mStreamIndex];
    const AVCodecParameters* params = stream->codecpar;
    const AVRational sampleBase{1, mRate};
    if (params->codec_id == AV_CODEC_ID_WMAV1 || params->codec_id == AV_CODEC_ID_WMAV2) {
        // A packet holds blocks of block_align bytes (several to an ASF packet), each one frame
        // of fixed length, or with the bit reservoir on as many as its first byte's low four bits
        // say (the first frame of the stream is given with the next block's); the
        // decoder drops part of what the first blocks give. Decoding the first few packets to
        // the end of a stream tells both; a file of no more packets is decoded whole.
        const int flagsAt = params->codec_id == AV_CODEC_ID_WMAV2 ? 4 : 2;
        const bool reservoir = params->extradata_size >= flagsAt + 2 &&
                               (AV_RL16(params->extradata + flagsAt) & 0x0002) != 0;
        const int64_t align = params->block_align;
        constexpr int64_t kTrial = 4;
        int64_t packets = 0;
        int64_t frames = 0;      // the frames the blocks name
        int64_t trialFrames = 0; // of them in the trial
        int64_t trialOutput = 0;
        // the codec's frame length at this rate (a decoded block gives all its frames at once)
        const bool v1 = params->codec_id == AV_CODEC_ID_WMAV1;
        const int64_t frameLength = mRate <= 16000                               ? 512
                                    : (mRate <= 22050 || (v1 && mRate <= 32000)) ? 1024
                                                                                 : 2048;
        bool named = align > 0;
        bool cut = false; // a packet short of whole blocks: only a cut file's last may be
        const auto receive = [&] {
            while (avcodec_receive_frame(mCodec.get(), mFrame.get()) >= 0) {
                trialOutput += mFrame->nb_samples;
                av_frame_unref(mFrame.get());
            }
        };
        while (av_read_frame(mFormat.get(), mPacket.get()) >= 0) {
            if (mPacket->stream_index == mStreamIndex) {
                ++packets;
                int64_t here = 0;
                named = named && !cut;
                // the decoder refuses a block the file cuts short, so it counts for nothing
                for (int64_t at = 0; named && at + align <= mPacket->size; at += align)
                    here += reservoir ? (mPacket->data[at] & 0x0F) : 1;
                cut = named && mPacket->size % align != 0;
                frames += here;
                if (packets <= kTrial) {
                    trialFrames += here;
                    if (avcodec_send_packet(mCodec.get(), mPacket.get()) >= 0)
                        receive();
                }
                if (packets == kTrial) {
                    avcodec_send_packet(mCodec.get(), nullptr);
                    receive();
                }
            }
            av_packet_unref(mPacket.get());
        }
        if (packets < kTrial) {
            avcodec_send_packet(mCodec.get(), nullptr);
            receive();
        }
        if (packets <= kTrial)
            mFrames = trialOutput;
        else if (named && trialOutput > 0)
            mFrames = frames * frameLength - (trialFrames * frameLength - trialOutput);
        else if (stream->duration > 0)
            mFrames = av_rescale_q(stream->duration, stream->time_base, sampleBase);
    } else if (std::strncmp(mFormat->iformat->name, "mov", 3) == 0 && stream->duration > 0) {
        // MP4: the demuxer applies an edit list, so the stream's duration leaves out the
        // encoder's priming and padding (the last packet's shorter duration), and the first
        // packet says how much priming to drop; Read stops at the end of the edit. Without an
        // edit list, iTunSMPB names the priming (which FFmpeg then has us drop) and the frames
        // that follow it; without either the file is played as its sample table has it.
        mMp4 = true;
        mFrames = av_rescale_q(stream->duration, stream->time_base, sampleBase);
        unsigned priming = 0;
        unsigned padding = 0;
        unsigned long long count = 0;
        const AVDictionaryEntry* smpb = av_dict_get(mFormat->metadata, "iTunSMPB", nullptr, 0);
        const bool told = smpb != nullptr && std::sscanf(smpb->value, "%*x %x %x %llx", &priming,
                                                         &padding, &count) == 3;
        if (HasEditList(*mFile, stream->id)) {
            mTrimmed = true;
        } else if (told && count > 0) {
            mTrimmed = true;
            mFrames = std::min<int64_t>(static_cast<int64_t>(count), mFrames - priming);
        }
        // A cut file, or a header that claims more than the file holds: the sound ends where the
        // first packet that is not wholly in the file starts.
        const int entries = avformat_index_get_entries_count(stream);
        if (entries > 0)
            mFirstDts = av_rescale_q(avformat_index_get_entry(stream, 0)->timestamp,
                                     stream->time_base, sampleBase);
        for (int i = 0; i < entries; ++i) {
            const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
            if (entry->pos + entry->size > mFile->Size()) {
                mFrames = std::min(
                    mFrames, std::max<int64_t>(
                                 0, av_rescale_q(entry->timestamp, stream->time_base, sampleBase)));
                break;
            }
        }
        // Audio the decoder cannot read is refused here rather than given a length.
        if (mFrames > 0 && (!DecodeMore() || mPending.size() == mPendingAt))
            return Fail(failure, MediaService::mseDecoderFailed,
                        QStringLiteral("The audio of %1 cannot be decoded (%2).")
                            .arg(name, QString::fromUtf8(avcodec_get_name(params->codec_id))));
    } else {
        // WMA Pro, Lossless and Voice: their packets' frame counts vary and ASF's times are in
        // milliseconds, so the frames are counted by decoding them (only for these codecs).
        int64_t counted = 0;
        bool changed = false; // Read ends where the format changes
        const auto receive = [&] {
            while (avcodec_receive_frame(mCodec.get(), mFrame.get()) >= 0) {
                changed = changed || mFrame->ch_layout.nb_channels != mChannels ||
                          mFrame->sample_rate != mRate;
                if (!changed)
                    counted += mFrame->nb_samples;
                av_frame_unref(mFrame.get());
            }
        };
        while (av_read_frame(mFormat.get(), mPacket.get()) >= 0) {
            if (mPacket->stream_index == mStreamIndex &&
                avcodec_send_packet(mCodec.get(), mPacket.get()) >= 0)
                receive();
            av_packet_unref(mPacket.get());
        }
        avcodec_send_packet(mCodec.get(), nullptr);
        receive();
        mFrames = counted;
    }
    if (mFrames <= 0)
        return Fail(failure, MediaService::mseNoAudio, NoAudioText(name));
    if (!Rewind())
        return Fail(failure, MediaService::mseDecoderFailed,
                    QStringLiteral("The file %1 cannot be played from its start.").arg(name));
    return true;
}

// A decoder as new: after a flush FFmpeg's AAC decoder gives the first frames a little
// differently from a fresh one.
int TFfmpegDecoder::OpenCodec() {
    const AVCodecParameters* params = mFormat->streams[mStreamIndex]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(params->codec_id);
    mCodec.reset(avcodec_alloc_context3(codec));
    if (!mCodec)
        return AVERROR(ENOMEM);
    int err = avcodec_parameters_to_context(mCodec.get(), params);
    if (err < 0)
        return err;
    mCodec->pkt_timebase = mFormat->streams[mStreamIndex]->time_base;
    mCodec->thread_count = 1;
    if (std::strncmp(mFormat->iformat->name, "mov", 3) == 0)
        mCodec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    return avcodec_open2(mCodec.get(), codec, nullptr);
}

bool TFfmpegDecoder::Rewind() {
    AVStream* stream = mFormat->streams[mStreamIndex];
    // The first packet, where the index knows it: an MP4's start_time is 0 though its priming
    // packet lies before it, and a start past that packet leaves the first frame without what
    // it overlaps (half a frame of silence, then a fade in). Not start_time either way: after a
    // long encoder delay it lies past the first packet, whose samples (and the skip that trims
    // them) would then be lost.
    int64_t start =
        stream->start_time != AV_NOPTS_VALUE ? std::min<int64_t>(stream->start_time, 0) : 0;
    if (mMp4 && avformat_index_get_entries_count(stream) > 0)
        start = std::min(start, avformat_index_get_entry(stream, 0)->timestamp);
    int err = av_seek_frame(mFormat.get(), mStreamIndex, start, AVSEEK_FLAG_BACKWARD);
    if (err < 0)
        err = avformat_seek_file(mFormat.get(), -1, INT64_MIN, 0, 0, 0);
    if (OpenCodec() < 0)
        return false;
    mResampler.reset();
    mPending.clear();
    mPendingAt = 0;
    mDrained = false;
    mPosition = 0;
    mSkip = 0;
    return err >= 0;
}

// Decodes until some samples are pending; false at the end.
bool TFfmpegDecoder::DecodeMore() {
    while (mPendingAt >= mPending.size()) {
        const int received = avcodec_receive_frame(mCodec.get(), mFrame.get());
        if (received >= 0) {
            const bool ok = Convert(mFrame.get());
            av_frame_unref(mFrame.get());
            if (!ok)
                return false;
            continue;
        }
        if (received == AVERROR_EOF || mDrained)
            return false;
        const int err = av_read_frame(mFormat.get(), mPacket.get());
        if (err < 0) {
            mDrained = true; // the end, or an unreadable rest: what was decodable has played
            avcodec_send_packet(mCodec.get(), nullptr);
            continue;
        }
        if (mPacket->stream_index == mStreamIndex)
            avcodec_send_packet(mCodec.get(), mPacket.get()); // a damaged packet is dropped
        av_packet_unref(mPacket.get());
    }
    return true;
}

bool TFfmpegDecoder::Convert(const AVFrame* frame) {
    if (frame->ch_layout.nb_channels != mChannels || frame->sample_rate != mRate)
        return false; // the stream changed its format: it ends here
    if (!mResampler) {
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, mChannels);
        SwrContext* swr = nullptr;
        // Only the sample format changes (to interleaved float): same rate, same channels in the
        // same order.
        int err =
            swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_FLT, mRate, &layout,
                                static_cast<AVSampleFormat>(frame->format), mRate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        mResampler.reset(swr);
        if (err < 0 || swr_init(swr) < 0) {
            mResampler.reset();
            return false;
        }
    }
    int64_t discard = 0;
    if (const AVFrameSideData* skip = av_frame_get_side_data(frame, AV_FRAME_DATA_SKIP_SAMPLES);
        mTrimmed && skip != nullptr && skip->size >= 10) {
        mSkip += AV_RL32(skip->data);
        discard = AV_RL32(skip->data + 4);
    }
    mPending.resize(static_cast<size_t>(frame->nb_samples) * mChannels);
    auto* out = reinterpret_cast<uint8_t*>(mPending.data());
    const int n = swr_convert(mResampler.get(), &out, frame->nb_samples,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    mPending.resize(static_cast<size_t>(std::max<int64_t>(n - discard, 0)) * mChannels);
    mPendingAt = 0;
    // After a seek the frames before the target are dropped.
    if (mSkip > 0) {
        const size_t dropped = static_cast<size_t>(
            std::min<int64_t>(mSkip, static_cast<int64_t>(mPending.size()) / mChannels));
        mPendingAt = dropped * mChannels;
        mSkip -= static_cast<int64_t>(dropped);
    }
    return true;
}

size_t TFfmpegDecoder::Read(float* out, size_t frames) {
    frames =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), mFrames - mPosition));
    size_t got = 0;
    while (got < frames && DecodeMore()) {
        const size_t n = std::min(frames - got, (mPending.size() - mPendingAt) / mChannels);
        std::memcpy(out + got * mChannels, mPending.data() + mPendingAt,
                    n * mChannels * sizeof(float));
        mPendingAt += n * mChannels;
        got += n;
    }
    mPosition += static_cast<int64_t>(got);
    return got;
}

bool TFfmpegDecoder::Seek(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, mFrames);
    if (!Rewind())
        return false;
    // A frame of these codecs overlaps the one before it, so decoding starts some frames early
    // and drops them; near the start it starts at the first packet.
    constexpr int64_t kPreroll = 4096;
    if (frame <= kPreroll) {
        mSkip = frame;
        mPosition = frame;
        return true;
    }
    // The packet at or before that, then decoded forward to the target: within one frame of the
    // exact place, as ASF time stamps are in milliseconds.
    const AVStream* stream = mFormat->streams[mStreamIndex];
    const int64_t target = av_rescale_q(frame - kPreroll, AVRational{1, mRate}, stream->time_base);
    if (av_seek_frame(mFormat.get(), mStreamIndex, target, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    mPosition = frame; // the decoder is new from Rewind: nothing to flush
    // Where the first packet after the seek starts decides how much to drop.
    while (av_read_frame(mFormat.get(), mPacket.get()) >= 0) {
        if (mPacket->stream_index == mStreamIndex && mPacket->pts != AV_NOPTS_VALUE) {
            int64_t at = av_rescale_q(mPacket->pts, stream->time_base, AVRational{1, mRate});
            if (mMp4 && mTrimmed)
                at = std::max<int64_t>(at, 0); // the first packet's priming is dropped
            else if (mMp4)
                at = std::max<int64_t>( // played whole: packets follow each other from 0
                    0, av_rescale_q(mPacket->dts, stream->time_base, AVRational{1, mRate}) -
                           mFirstDts);
            mSkip = std::max<int64_t>(0, frame - at);
            avcodec_send_packet(mCodec.get(), mPacket.get());
            av_packet_unref(mPacket.get());
            return true;
        }
        av_packet_unref(mPacket.get());
    }
    mDrained = true;
    return true;
}

class TFfmpegModule final : public IDecoderModule {
public:
    std::unique_ptr<IDecoder> Open(std::shared_ptr<IByteReader> file, const QString& fileName,
                                   TOpenFailure& failure) override {
        return TFfmpegDecoder::Open(std::move(file), fileName, failure);
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) IDecoderModule* OndrixDecoderModule(int version) {
    static TFfmpegModule module;
    return version == kDecoderModuleVersion ? &module : nullptr;
}

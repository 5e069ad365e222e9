// Threads of one device:
// - GUI thread: every public method, through the media service. It owns the decoder state while
//   the decoder thread is not running, and starts, stops and joins that thread.
// - Decoder thread (DecodeLoop): started by the first Play after an open or a rewind; reads,
//   decodes and converts to interleaved 16-bit samples, writes them into mRing, sets mDecodeDone
//   after the last sample and exits. It sleeps on mStopWake while the ring is full.
// - SDL's audio thread (Fill, called by TAudioOutput's callback): reads mRing, applies mGain,
//   counts mFramesOut and sets mDrained once the decoder is done and the ring is empty. It never
//   locks, allocates or logs.
// Close (the destructor) pauses and detaches the SDL output first (no Fill runs after that) and
// parks it for the next open, then stops and joins the decoder thread, then frees the FFmpeg
// contexts; it returns when all is done.
#include "playback/audio/AudioDevice.h"

#include "playback/MediaService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavutil/intreadwrite.h>
}

using namespace std::chrono_literals;

namespace {

constexpr int32_t kFullGain = 65536;
constexpr size_t kDeviceFrames = 4096;

// 0 is silence; 1..1000 spread over 60 dB, so equal slider steps sound like equal steps.
int32_t GainFor(int32_t volume) {
    if (volume <= 0)
        return 0;
    if (volume >= 1000)
        return kFullGain;
    const double amplitude = std::pow(10.0, 3.0 * (volume - 1000) / 1000.0);
    return static_cast<int32_t>(std::lround(kFullGain * amplitude));
}

QString Quoted(const QString& fileName) {
    return QLatin1Char('"') + QDir::toNativeSeparators(fileName) + QLatin1Char('"');
}

bool Fail(TOpenFailure& failure, int32_t code, const QString& text) {
    failure.Code = code;
    failure.Text = text;
    return false;
}

bool IsPcm(AVCodecID id) {
    return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT &&
           av_get_exact_bits_per_sample(id) > 0;
}

} // namespace

QString AvErrorText(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(err, text, sizeof text) < 0)
        return QStringLiteral("FFmpeg error %1").arg(err);
    return QString::fromUtf8(text);
}

std::unique_ptr<TAudioDevice> TAudioDevice::Open(const QString& fileName, int32_t volume,
                                                 TOpenFailure& failure) {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET); // the reasons reach the user in our own error texts
        return true;
    }();
    (void)quiet;
    std::unique_ptr<TAudioDevice> device(new TAudioDevice());
    device->SetVolume(volume);
    if (!device->OpenDecoder(fileName, failure) || !device->MeasureLength(fileName, failure) ||
        !device->OpenOutput(fileName, failure))
        return nullptr;
    return device;
}

TAudioDevice::~TAudioDevice() {
    TAudioOutput::Park(std::move(mOutput));
    StopDecoder();
    av_channel_layout_uninit(&mSwrLayout);
}

bool TAudioDevice::OpenDecoder(const QString& fileName, TOpenFailure& failure) {
    if (fileName.isEmpty())
        return Fail(failure, MediaService::mseNoFileName,
                    QStringLiteral("No file name was given."));
    const QFileInfo info(fileName);
    if (!info.exists())
        return Fail(failure, MediaService::mseFileNotFound,
                    QStringLiteral("The file %1 was not found.").arg(Quoted(fileName)));
    if (info.isDir())
        return Fail(failure, MediaService::mseNotAFile,
                    QStringLiteral("%1 is a folder, not an audio file.").arg(Quoted(fileName)));
    const QByteArray localPath = QFile::encodeName(info.absoluteFilePath());
    const int fd = ::open(localPath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(failure, MediaService::mseCannotRead,
                    QStringLiteral("The file %1 cannot be read: %2.")
                        .arg(Quoted(fileName), QString::fromLocal8Bit(std::strerror(errno))));
    ::close(fd);
    if (info.size() == 0)
        return Fail(failure, MediaService::mseUnsupportedFile,
                    QStringLiteral("The file %1 is empty, not a supported audio file.")
                        .arg(Quoted(fileName)));

    AVFormatContext* format = avformat_alloc_context();
    if (format == nullptr)
        return Fail(failure, MediaService::mseOutOfMemory, QStringLiteral("Out of memory."));
    AVDictionary* options = nullptr;
    // Local files of the three formats we play; nothing that could fetch other files or URLs.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", "mp3,asf,wav", 0);
    const QByteArray url = QByteArrayLiteral("file:") + localPath;
    int err = avformat_open_input(&format, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (err < 0) {
        // FFmpeg says "Invalid data" or "Invalid argument" for a file it cannot make sense of:
        // no help to a user beyond what the text says already.
        if (err == AVERROR_INVALIDDATA || err == AVERROR(EINVAL))
            return Fail(failure, MediaService::mseUnsupportedFile,
                        QStringLiteral("The file %1 is not a supported audio file (MP3, WMA or "
                                       "WAV).")
                            .arg(Quoted(fileName)));
        if (err != AVERROR(EACCES) && err != AVERROR(ENOENT) && err != AVERROR(EIO) &&
            err != AVERROR(ENOMEM))
            return Fail(failure, MediaService::mseUnsupportedFile,
                        QStringLiteral("The file %1 is not a supported audio file (MP3, WMA or "
                                       "WAV): %2.")
                            .arg(Quoted(fileName), AvErrorText(err)));
        return Fail(failure, MediaService::mseCannotRead,
                    QStringLiteral("The file %1 cannot be opened: %2.")
                        .arg(Quoted(fileName), AvErrorText(err)));
    }
    mFormat.reset(format);
#if LIBAVFORMAT_VERSION_MAJOR < 60
    // The MP3 reader turns on a CRC of everything read to check a LAME tag, and leaves it on
    // when the file has none: a quarter of the length scan went into that CRC.
    mFormat->pb->update_checksum = nullptr;
#endif
    // Recognised by its extension alone: random bytes would otherwise play as noise.
    if (mFormat->probe_score < AVPROBE_SCORE_EXTENSION / 2)
        return Fail(
            failure, MediaService::mseUnsupportedFile,
            QStringLiteral("The file %1 is not a supported audio file: no %2 data was "
                           "found in it.")
                .arg(Quoted(fileName), QString::fromUtf8(mFormat->iformat->name).toUpper()));

    mStreamIndex = av_find_best_stream(mFormat.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVCodecParameters* params =
        mStreamIndex >= 0 ? mFormat->streams[mStreamIndex]->codecpar : nullptr;
    // Headers of the three formats normally carry all we need; only then is the costly
    // stream analysis skipped.
    if (params == nullptr || params->sample_rate <= 0 || params->ch_layout.nb_channels <= 0) {
        err = avformat_find_stream_info(mFormat.get(), nullptr);
        if (err < 0)
            return Fail(failure, MediaService::mseUnsupportedFile,
                        QStringLiteral("The file %1 is not a supported audio file: %2.")
                            .arg(Quoted(fileName), AvErrorText(err)));
        mStreamIndex = av_find_best_stream(mFormat.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        params = mStreamIndex >= 0 ? mFormat->streams[mStreamIndex]->codecpar : nullptr;
    }
    if (params == nullptr || params->sample_rate <= 0 || params->ch_layout.nb_channels <= 0)
        return Fail(failure, MediaService::mseNoAudio,
                    QStringLiteral("The file %1 contains no audio.").arg(Quoted(fileName)));
    for (unsigned i = 0; i < mFormat->nb_streams; ++i)
        if (static_cast<int>(i) != mStreamIndex)
            mFormat->streams[i]->discard = AVDISCARD_ALL;

    const AVCodec* decoder = avcodec_find_decoder(params->codec_id);
    if (decoder == nullptr)
        return Fail(
            failure, MediaService::mseUnsupportedFile,
            QStringLiteral("The file %1 uses an audio format that cannot be played (%2).")
                .arg(Quoted(fileName), QString::fromUtf8(avcodec_get_name(params->codec_id))));
    mCodec.reset(avcodec_alloc_context3(decoder));
    mPacket.reset(av_packet_alloc());
    mFrame.reset(av_frame_alloc());
    if (!mCodec || !mPacket || !mFrame)
        return Fail(failure, MediaService::mseOutOfMemory, QStringLiteral("Out of memory."));
    err = avcodec_parameters_to_context(mCodec.get(), params);
    if (err >= 0) {
        mCodec->pkt_timebase = mFormat->streams[mStreamIndex]->time_base;
        mCodec->thread_count = 1;
        err = avcodec_open2(mCodec.get(), decoder, nullptr);
    }
    if (err < 0)
        return Fail(failure, MediaService::mseDecoderFailed,
                    QStringLiteral("The audio of %1 cannot be decoded: %2.")
                        .arg(Quoted(fileName), AvErrorText(err)));
    return true;
}

bool TAudioDevice::MeasureLength(const QString& fileName, TOpenFailure& failure) {
    AVStream* stream = mFormat->streams[mStreamIndex];
    const AVCodecParameters* params = stream->codecpar;
    const int rate = params->sample_rate;
    const AVRational sampleBase{1, rate};
    bool scanned = false;

    if (IsPcm(params->codec_id) && params->block_align > 0) {
        // The header's data size may claim more than the file holds (a cut download, or a
        // 4 GB placeholder); what plays is what is there.
        const int64_t dataStart = avio_tell(mFormat->pb);
        const int64_t fileSize = avio_size(mFormat->pb);
        int64_t samples = fileSize > dataStart ? (fileSize - dataStart) / params->block_align : 0;
        if (stream->duration > 0)
            samples =
                std::min(samples, av_rescale_q(stream->duration, stream->time_base, sampleBase));
        mLengthSamples = samples;
    } else if (params->codec_id == AV_CODEC_ID_WMAV1 || params->codec_id == AV_CODEC_ID_WMAV2) {
        // Each packet holds one frame of fixed length unless the bit reservoir is on, and the
        // decoder drops part of what the first packets give. Decoding the first few packets to
        // the end of a stream tells both.
        const int flagsAt = params->codec_id == AV_CODEC_ID_WMAV2 ? 4 : 2;
        const bool reservoir = params->extradata_size >= flagsAt + 2 &&
                               (AV_RL16(params->extradata + flagsAt) & 0x0002) != 0;
        constexpr int64_t kTrial = 4;
        int64_t packets = 0;
        int64_t trialOutput = 0;
        int64_t frameLength = 0;
        const auto receive = [&] {
            while (avcodec_receive_frame(mCodec.get(), mFrame.get()) >= 0) {
                trialOutput += mFrame->nb_samples;
                frameLength = std::max<int64_t>(frameLength, mFrame->nb_samples);
                av_frame_unref(mFrame.get());
            }
        };
        while (av_read_frame(mFormat.get(), mPacket.get()) >= 0) {
            if (mPacket->stream_index == mStreamIndex) {
                ++packets;
                if (packets <= kTrial && avcodec_send_packet(mCodec.get(), mPacket.get()) >= 0)
                    receive();
                if (packets == kTrial) {
                    avcodec_send_packet(mCodec.get(), nullptr);
                    receive();
                }
            }
            av_packet_unref(mPacket.get());
        }
        if (!reservoir && frameLength > 0 && packets >= kTrial)
            mLengthSamples = packets * frameLength - (kTrial * frameLength - trialOutput);
        else if (stream->duration > 0)
            mLengthSamples = av_rescale_q(stream->duration, stream->time_base, sampleBase);
        scanned = true;
    } else {
        // MP3 and the rest: the sum of the packet durations, less what the decoder will skip
        // at either end (encoder delay and padding from a LAME/Xing header).
        int64_t ticks = 0;
        int64_t skipped = 0;
        while (av_read_frame(mFormat.get(), mPacket.get()) >= 0) {
            if (mPacket->stream_index == mStreamIndex) {
                ticks += mPacket->duration;
                size_t size = 0;
                const uint8_t* skip =
                    av_packet_get_side_data(mPacket.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
                if (skip != nullptr && size >= 8)
                    skipped += static_cast<int64_t>(AV_RL32(skip)) + AV_RL32(skip + 4);
            }
            av_packet_unref(mPacket.get());
        }
        mLengthSamples =
            std::max<int64_t>(0, av_rescale_q(ticks, stream->time_base, sampleBase) - skipped);
        scanned = true;
    }
    if (mLengthSamples <= 0)
        return Fail(failure, MediaService::mseNoAudio,
                    QStringLiteral("The file %1 contains no audio that can be played.")
                        .arg(Quoted(fileName)));
    const int64_t ms = (mLengthSamples * 1000 + rate / 2) / rate;
    mLengthMs = static_cast<int32_t>(std::min<int64_t>(ms, INT32_MAX));
    if (scanned && !RewindDemuxer())
        return Fail(
            failure, MediaService::mseDecoderFailed,
            QStringLiteral("The file %1 cannot be played from its start.").arg(Quoted(fileName)));
    return true;
}

bool TAudioDevice::OpenOutput(const QString& fileName, TOpenFailure& failure) {
    QString reason;
    mOutput =
        TAudioOutput::Take(mCodec->sample_rate, std::min(2, mCodec->ch_layout.nb_channels), reason);
    if (!mOutput)
        return Fail(failure, MediaService::mseNoOutput,
                    QStringLiteral("No audio output is available to play %1: %2.")
                        .arg(Quoted(fileName), reason));
    mOutRate = mOutput->Rate();
    mOutChannels = mOutput->Channels();
    // A second of sound between decoder and output rides out a busy machine.
    mRing = std::make_unique<TSampleRing>(static_cast<size_t>(mOutRate) * mOutChannels);
    mOutput->Attach(&TAudioDevice::Fill, this);
    return true;
}

bool TAudioDevice::ConfigureResampler(const AVFrame* frame) {
    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, frame->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &frame->ch_layout) < 0)
        return false;
    AVChannelLayout out{};
    av_channel_layout_default(&out, mOutChannels);
    SwrContext* swr = nullptr;
    int err = swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, mOutRate, &in,
                                  static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                  nullptr);
    mResampler.reset(swr);
    if (err >= 0)
        err = swr_init(swr);
    av_channel_layout_uninit(&mSwrLayout);
    mSwrLayout = in;
    mSwrRate = frame->sample_rate;
    mSwrFormat = frame->format;
    av_channel_layout_uninit(&out);
    if (err < 0) {
        mResampler.reset();
        return false;
    }
    return true;
}

bool TAudioDevice::RewindDemuxer() {
    const AVStream* stream = mFormat->streams[mStreamIndex];
    // Not start_time: after a long encoder delay it lies past the first packet, whose samples
    // (and the skip that trims them) would then be lost.
    const int64_t start =
        stream->start_time != AV_NOPTS_VALUE ? std::min<int64_t>(stream->start_time, 0) : 0;
    int err = av_seek_frame(mFormat.get(), mStreamIndex, start, AVSEEK_FLAG_BACKWARD);
    if (err < 0)
        err = avformat_seek_file(mFormat.get(), -1, INT64_MIN, 0, 0, 0);
    avcodec_flush_buffers(mCodec.get());
    mResampler.reset();
    return err >= 0;
}

void TAudioDevice::Play() {
    FinishIfDrained();
    if (mState == EState::Playing)
        return;
    if (mState == EState::Paused) {
        Resume();
        return;
    }
    if (mDrained.load(std::memory_order_acquire))
        return;
    if (!mDecoder.joinable())
        StartDecoder();
    // Give the ring one device buffer before the output starts pulling, so the track does not
    // begin with a gap; decoding that much takes a millisecond or two.
    const size_t wanted = std::min(mRing->Capacity() / 2, kDeviceFrames * 2 * mOutChannels);
    const auto deadline = std::chrono::steady_clock::now() + 500ms;
    while (mRing->Available() < wanted && !mDecodeDone.load(std::memory_order_acquire) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(200us);
    mOutput->SetPaused(false);
    mState = EState::Playing;
}

void TAudioDevice::Pause() {
    FinishIfDrained();
    if (mState != EState::Playing)
        return;
    // Returns once the callback has finished its current buffer and will not run again.
    mOutput->SetPaused(true);
    mState = EState::Paused;
}

void TAudioDevice::Resume() {
    if (mState != EState::Paused)
        return;
    mOutput->SetPaused(false);
    mState = EState::Playing;
}

void TAudioDevice::SeekToStart() {
    mOutput->SetPaused(true);
    mState = EState::Stopped;
    if (!mDecoder.joinable() && mFramesOut.load() == 0 && !mDecodeDone.load())
        return; // never started since the open or the last rewind
    StopDecoder();
    mRing->Reset();
    mFramesOut.store(0);
    mDecodeDone.store(false);
    mDrained.store(false);
    RewindDemuxer();
}

int32_t TAudioDevice::PositionMs() {
    FinishIfDrained();
    if (mDrained.load(std::memory_order_acquire))
        return mLengthMs;
    const int64_t ms = mFramesOut.load(std::memory_order_relaxed) * 1000 / mOutRate;
    // Length is reached only at the real end: the main window advances on that equality.
    return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, std::max(0, mLengthMs - 1)));
}

TAudioDevice::EState TAudioDevice::State() {
    FinishIfDrained();
    return mState;
}

void TAudioDevice::SetVolume(int32_t volume) {
    mVolume = std::clamp(volume, 0, 1000);
    mGain.store(GainFor(mVolume), std::memory_order_relaxed);
}

void TAudioDevice::FinishIfDrained() {
    if (mState != EState::Playing || !mDrained.load(std::memory_order_acquire))
        return;
    mOutput->SetPaused(true);
    mState = EState::Stopped;
    if (mDecoder.joinable())
        mDecoder.join(); // it has already left its loop
}

void TAudioDevice::StartDecoder() {
    {
        std::lock_guard lock(mStopLock);
        mStop = false;
    }
    mDecoder = std::thread([this] { DecodeLoop(); });
}

void TAudioDevice::StopDecoder() {
    {
        std::lock_guard lock(mStopLock);
        mStop = true;
    }
    mStopWake.notify_all();
    if (mDecoder.joinable())
        mDecoder.join();
}

bool TAudioDevice::WaitOrStop(std::chrono::milliseconds time) {
    std::unique_lock lock(mStopLock);
    return !mStopWake.wait_for(lock, time, [this] { return mStop; });
}

void TAudioDevice::DecodeLoop() {
    for (;;) {
        {
            std::lock_guard lock(mStopLock);
            if (mStop)
                return;
        }
        int err = av_read_frame(mFormat.get(), mPacket.get());
        if (err == AVERROR(EAGAIN)) {
            if (!WaitOrStop(5ms))
                return;
            continue;
        }
        if (err < 0)
            break; // the end, or an unreadable rest: what was decodable has been played
        if (mPacket->stream_index == mStreamIndex) {
            // A damaged packet is dropped; the decoder picks up again at the next one.
            avcodec_send_packet(mCodec.get(), mPacket.get());
            av_packet_unref(mPacket.get());
            if (!ReceiveFrames())
                return;
        } else {
            av_packet_unref(mPacket.get());
        }
    }
    avcodec_send_packet(mCodec.get(), nullptr);
    if (!ReceiveFrames())
        return;
    if (mResampler) {
        const int rest = swr_get_out_samples(mResampler.get(), 0);
        if (rest > 0) {
            mConverted.resize(static_cast<size_t>(rest) * mOutChannels);
            auto* out = reinterpret_cast<uint8_t*>(mConverted.data());
            const int n = swr_convert(mResampler.get(), &out, rest, nullptr, 0);
            if (n > 0 && !Push(mConverted.data(), static_cast<size_t>(n) * mOutChannels))
                return;
        }
    }
    mDecodeDone.store(true, std::memory_order_release);
}

bool TAudioDevice::ReceiveFrames() {
    while (avcodec_receive_frame(mCodec.get(), mFrame.get()) >= 0) {
        const AVFrame* frame = mFrame.get();
        const bool changed = !mResampler || frame->sample_rate != mSwrRate ||
                             frame->format != mSwrFormat ||
                             (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC &&
                              av_channel_layout_compare(&frame->ch_layout, &mSwrLayout) != 0) ||
                             frame->ch_layout.nb_channels != mSwrLayout.nb_channels;
        bool ok = !changed || ConfigureResampler(frame);
        if (ok) {
            const int capacity = swr_get_out_samples(mResampler.get(), frame->nb_samples);
            mConverted.resize(static_cast<size_t>(std::max(capacity, 0)) * mOutChannels);
            auto* out = reinterpret_cast<uint8_t*>(mConverted.data());
            const int n =
                swr_convert(mResampler.get(), &out, capacity,
                            const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
            if (n > 0)
                ok = Push(mConverted.data(), static_cast<size_t>(n) * mOutChannels);
            else
                ok = true;
            if (!ok) {
                av_frame_unref(mFrame.get());
                return false;
            }
        }
        av_frame_unref(mFrame.get());
    }
    return true;
}

bool TAudioDevice::Push(const int16_t* samples, size_t count) {
    // When the ring is full, sleep until about a quarter of it has played rather than waking
    // for every decoded frame.
    const auto quarter = std::chrono::milliseconds(std::max<int64_t>(
        2, static_cast<int64_t>(mRing->Capacity() / 4 / mOutChannels) * 1000 / mOutRate));
    while (count > 0) {
        const size_t written = mRing->Write(samples, count);
        samples += written;
        count -= written;
        if (count > 0 && !WaitOrStop(quarter))
            return false;
    }
    return true;
}

void TAudioDevice::Fill(void* source, int16_t* out, size_t wanted) {
    auto* self = static_cast<TAudioDevice*>(source);
    // Read the flag before the ring: if it was set, every sample is already in the ring.
    const bool done = self->mDecodeDone.load(std::memory_order_acquire);
    const size_t got = self->mRing->Read(out, wanted);
    const int32_t gain = self->mGain.load(std::memory_order_relaxed);
    if (gain != kFullGain)
        for (size_t i = 0; i < got; ++i)
            out[i] = static_cast<int16_t>((static_cast<int32_t>(out[i]) * gain) >> 16);
    std::memset(out + got, 0, (wanted - got) * sizeof(int16_t));
    self->mFramesOut.fetch_add(static_cast<int64_t>(got) / self->mOutChannels,
                               std::memory_order_relaxed);
    if (done && self->mRing->Available() == 0)
        self->mDrained.store(true, std::memory_order_release);
}

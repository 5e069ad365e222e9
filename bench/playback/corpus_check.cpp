// Measures files as the player meets them: opens each with OpenDecoder, reads its length, then
// decodes it to the end, counting the frames of each rate and layout part.
//   corpus_check FILE...
// One line per file, tab-separated, for bench/playback/corpus.py to compare with the formats'
// own lengths:
//   open FILE RATE CHANNELS LENGTH_FRAMES LENGTH_MS DECODED_FRAMES DECODED_MS PARTS
//   fail FILE CODE TEXT
// PARTS lists each run of one rate and layout as FRAMES@RATE/CHANNELS, joined by "+"; the
// decoded milliseconds are the parts' own, each at its rate.
#include "playback/Decoder.h"
#include "playback/TimeLine.h"

#include <QCoreApplication>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void Measure(const QString& fileName) {
    std::shared_ptr<TMediaFile> file;
    TOpenFailure failure;
    std::unique_ptr<IDecoder> decoder = OpenDecoder(fileName, file, failure);
    const std::string name = fileName.toStdString();
    if (!decoder) {
        std::printf("fail\t%s\t%d\t%s\n", name.c_str(), failure.Code,
                    failure.Text.toStdString().c_str());
        std::fflush(stdout);
        return;
    }
    const int rate = decoder->Rate();
    const int channels = decoder->Channels();
    const int64_t length = decoder->LengthFrames();
    // as the player reports it: each rate part at its own rate
    const int64_t lengthMs = TTimeLine(decoder->RateParts(), length).LengthMs();
    std::vector<float> buffer(4096 * static_cast<size_t>(decoder->MaxChannels()));
    int64_t decoded = 0;
    double decodedSeconds = 0;
    std::string parts;
    int partRate = rate;
    int partChannels = channels;
    int64_t partFrames = 0;
    const auto endPart = [&] {
        if (partFrames == 0)
            return;
        if (!parts.empty())
            parts += '+';
        parts += std::to_string(partFrames) + '@' + std::to_string(partRate) + '/' +
                 std::to_string(partChannels);
        decodedSeconds += static_cast<double>(partFrames) / partRate;
        partFrames = 0;
    };
    for (;;) {
        const size_t got = decoder->Read(buffer.data(), 4096);
        if (got == 0)
            break;
        if (decoder->Rate() != partRate || decoder->Channels() != partChannels) {
            endPart();
            partRate = decoder->Rate();
            partChannels = decoder->Channels();
        }
        partFrames += static_cast<int64_t>(got);
        decoded += static_cast<int64_t>(got);
    }
    endPart();
    std::printf("open\t%s\t%d\t%d\t%lld\t%lld\t%lld\t%lld\t%s\n", name.c_str(), rate, channels,
                static_cast<long long>(length), static_cast<long long>(lengthMs),
                static_cast<long long>(decoded),
                static_cast<long long>(decodedSeconds * 1000 + 0.5),
                parts.empty() ? "-" : parts.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i)
        Measure(QString::fromLocal8Bit(argv[i]));
    return 0;
}

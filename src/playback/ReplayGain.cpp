#include "playback/ReplayGain.h"

#include "core/FileNames.h"
#include "playback/FormatTags.h"
#include "tags/ID3v2Library.h"
#include "tags/ID3v2Size.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\0'))
        text.remove_suffix(1);
    return text;
}

// A decimal number with an optional sign, taken whole or not at all, "." or "," as the point;
// what follows it is left in `text`.
std::optional<double> Number(std::string_view& text) {
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    double value = 0;
    double scale = 0;
    bool digits = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (scale == 0) {
                value = value * 10 + (c - '0');
            } else {
                value += (c - '0') * scale;
                scale /= 10;
            }
        } else if ((c == '.' || c == ',') && scale == 0) {
            scale = 0.1;
        } else {
            break;
        }
    }
    if (!digits)
        return std::nullopt;
    text.remove_prefix(at);
    return negative ? -value : value;
}

bool IsDecibels(std::string_view rest) {
    rest = Trimmed(rest);
    return rest.empty() ||
           (rest.size() == 2 && (rest[0] == 'd' || rest[0] == 'D') && (rest[1] == 'b' || rest[1] == 'B'));
}

// The file's bytes at `offset` (from the end where negative); fewer at its ends.
std::vector<uint8_t> ReadAt(int fd, int64_t size, int64_t offset, size_t count) {
    if (offset < 0)
        offset += size;
    std::vector<uint8_t> bytes;
    if (offset < 0 || offset >= size)
        return bytes;
    bytes.resize(std::min<int64_t>(static_cast<int64_t>(count), size - offset));
    const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), offset);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
    return text;
}

// An APE tag at the end of the file, or before an ID3v1 tag: its text items by key in upper
// case, of several values the first.
void ReadApe(int fd, int64_t size, std::vector<std::pair<std::string, std::string>>& items) {
    constexpr size_t kFooter = 32;
    for (const int64_t end : {size, size - 128}) {
        const std::vector<uint8_t> footer = ReadAt(fd, size, end - int64_t(kFooter), kFooter);
        if (footer.size() != kFooter || std::memcmp(footer.data(), "APETAGEX", 8) != 0)
            continue;
        const uint32_t length = Le32(&footer[12]); // the items and the footer
        const uint32_t count = Le32(&footer[16]);
        if (length < kFooter || length > (1u << 24) || end - int64_t(length) < 0)
            return;
        const std::vector<uint8_t> body =
            ReadAt(fd, size, end - int64_t(length), length - kFooter);
        size_t at = 0;
        for (uint32_t i = 0; i < count && body.size() - at >= 9; ++i) {
            const uint32_t valueSize = Le32(&body[at]);
            const uint32_t flags = Le32(&body[at + 4]);
            const auto keyEnd = std::find(body.begin() + long(at) + 8, body.end(), uint8_t(0));
            if (keyEnd == body.end())
                return;
            const size_t valueAt = size_t(keyEnd - body.begin()) + 1;
            if (valueSize > body.size() - valueAt)
                return;
            if ((flags & 6) == 0) { // text, not binary or a link
                std::string key(body.begin() + long(at) + 8, keyEnd);
                std::string value(body.begin() + long(valueAt),
                                  body.begin() + long(valueAt + valueSize));
                value.resize(std::min(value.size(), value.find('\0')));
                items.emplace_back(UpperAscii(std::move(key)), std::move(value));
            }
            at = valueAt + valueSize;
        }
        return;
    }
}

// The GUID of an ASF header object, which every WMA file begins with.
constexpr char kAsfHeader[] = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";

// Whether the bytes at the start of the audio name a format whose tags TagLib reads for us
// (MPEG audio has no magic, and WAV files carry no loudness fields worth a module).
bool OtherFormat(const std::vector<uint8_t>& head) {
    const auto starts = [&head](size_t at, const char* magic, size_t n) {
        return head.size() >= at + n && std::memcmp(head.data() + at, magic, n) == 0;
    };
    return starts(0, "fLaC", 4) || starts(0, "OggS", 4) || starts(4, "ftyp", 4) ||
           starts(0, kAsfHeader, sizeof kAsfHeader - 1);
}

void Apply(TReplayGain& gain, std::optional<double> TReplayGain::*field,
           std::optional<double> value) {
    if (!(gain.*field) && value)
        gain.*field = value;
}

class TGainDecoder final : public IDecoder {
public:
    TGainDecoder(std::unique_ptr<IDecoder> decoder, float factor)
        : mDecoder(std::move(decoder)), mFactor(factor) {}
    int Rate() const override { return mDecoder->Rate(); }
    std::vector<TRatePart> RateParts() const override { return mDecoder->RateParts(); }
    const TLayout& Layout() const override { return mDecoder->Layout(); }
    int MaxChannels() const override { return mDecoder->MaxChannels(); }
    int64_t LengthFrames() const override { return mDecoder->LengthFrames(); }
    size_t Read(float* out, size_t frames) override {
        const size_t got = mDecoder->Read(out, frames);
        const size_t samples = got * static_cast<size_t>(mDecoder->Channels());
        for (size_t i = 0; i < samples; ++i)
            out[i] *= mFactor;
        return got;
    }
    bool Seek(int64_t frame) override { return mDecoder->Seek(frame); }

private:
    std::unique_ptr<IDecoder> mDecoder;
    const float mFactor;
};

} // namespace

std::optional<double> ParseGain(std::string_view text) {
    text = Trimmed(text);
    const std::optional<double> value = Number(text);
    if (!value || !IsDecibels(text) || std::abs(*value) > 64)
        return std::nullopt;
    return value;
}

std::optional<double> ParsePeak(std::string_view text) {
    text = Trimmed(text);
    const std::optional<double> value = Number(text);
    if (!value || !Trimmed(text).empty() || !(*value > 0) || *value > 1000)
        return std::nullopt;
    return value;
}

std::optional<double> ParseR128Gain(std::string_view text) {
    text = Trimmed(text);
    const std::string_view whole = text;
    const std::optional<double> value = Number(text);
    // a whole number of 1/256 dB, in 16 bits
    if (!value || !text.empty() || whole.find_first_of(".,") != std::string_view::npos ||
        *value < -32768 || *value > 32767)
        return std::nullopt;
    return *value / 256 + 5;
}

bool SameAlbum(const TReplayGain& a, const TReplayGain& b) {
    return !a.Album.isEmpty() && a.Album == b.Album && a.AlbumArtist == b.AlbumArtist;
}

float GainFactor(const TReplayGain& tags, bool album) {
    const bool useAlbum = album && tags.AlbumGain.has_value();
    const std::optional<double>& gain = useAlbum ? tags.AlbumGain : tags.TrackGain;
    if (!gain)
        return 1.0f;
    const std::optional<double>& peak = useAlbum ? tags.AlbumPeak : tags.TrackPeak;
    const double factor = std::pow(10.0, *gain / 20);
    return static_cast<float>(std::min(factor, 1.0 / peak.value_or(1.0)));
}

TReplayGain ReadReplayGain(const QString& fileName) {
    TReplayGain gain;
    // the descriptor answers the sniffing and the APE tag; our ID3v2 reader opens the file itself
    const int fd = ::open(EncodeFileName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return gain;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return gain;
    }
    const int64_t size = info.st_size;
    std::vector<uint8_t> head = ReadAt(fd, size, 0, kID3v2HeaderSize);
    int64_t audio = 0;
    if (head.size() == kID3v2HeaderSize && std::memcmp(head.data(), "ID3", 3) == 0)
        audio = std::max<int64_t>(0, ID3v2TagSize(head.data()));
    head = ReadAt(fd, size, audio, 16);
    if (OtherFormat(head)) {
        ::close(fd);
        IFormatTags::TLoudnessTexts texts;
        if (!FormatTags::Loudness(fileName, texts))
            return gain;
        // Opus's own gains first; REPLAYGAIN_ fields where a file has only those
        gain.TrackGain = ParseR128Gain(texts.R128TrackGain);
        gain.AlbumGain = ParseR128Gain(texts.R128AlbumGain);
        Apply(gain, &TReplayGain::TrackGain, ParseGain(texts.TrackGain));
        Apply(gain, &TReplayGain::AlbumGain, ParseGain(texts.AlbumGain));
        gain.TrackPeak = ParsePeak(texts.TrackPeak);
        gain.AlbumPeak = ParsePeak(texts.AlbumPeak);
        gain.Album = QString::fromStdString(texts.Album);
        gain.AlbumArtist = QString::fromStdString(texts.AlbumArtist);
        return gain;
    }
    // MPEG audio: the ID3v2 tag, then an APE tag for what it lacks
    TID3v2Tag tag;
    if (audio > 0) {
        tag.LoadFromFile(fileName.toStdU16String());
        const auto user = [&tag](const char* description) {
            std::u16string value;
            tag.GetUserText(description, value);
            return QString::fromStdU16String(value).toStdString();
        };
        gain.TrackGain = ParseGain(user("REPLAYGAIN_TRACK_GAIN"));
        gain.TrackPeak = ParsePeak(user("REPLAYGAIN_TRACK_PEAK"));
        gain.AlbumGain = ParseGain(user("REPLAYGAIN_ALBUM_GAIN"));
        gain.AlbumPeak = ParsePeak(user("REPLAYGAIN_ALBUM_PEAK"));
        std::u16string text;
        tag.GetUnicodeText("TALB", text);
        gain.Album = QString::fromStdU16String(text);
        tag.GetUnicodeText("TPE2", text);
        gain.AlbumArtist = QString::fromStdU16String(text);
    }
    std::vector<std::pair<std::string, std::string>> items;
    ReadApe(fd, size, items);
    ::close(fd);
    for (const auto& [key, value] : items) {
        if (key == "REPLAYGAIN_TRACK_GAIN")
            Apply(gain, &TReplayGain::TrackGain, ParseGain(value));
        else if (key == "REPLAYGAIN_TRACK_PEAK")
            Apply(gain, &TReplayGain::TrackPeak, ParsePeak(value));
        else if (key == "REPLAYGAIN_ALBUM_GAIN")
            Apply(gain, &TReplayGain::AlbumGain, ParseGain(value));
        else if (key == "REPLAYGAIN_ALBUM_PEAK")
            Apply(gain, &TReplayGain::AlbumPeak, ParsePeak(value));
        else if (key == "ALBUM" && gain.Album.isEmpty())
            gain.Album = QString::fromStdString(value);
        else if ((key == "ALBUM ARTIST" || key == "ALBUMARTIST") && gain.AlbumArtist.isEmpty())
            gain.AlbumArtist = QString::fromStdString(value);
    }
    return gain;
}

float ReplayGainFactor(const QString& fileName, const QString& before, const QString& after) {
    const TReplayGain tags = ReadReplayGain(fileName);
    bool album = false;
    if (tags.AlbumGain && !tags.Album.isEmpty()) {
        // the neighbours are read only for a file that has an album gain to choose
        for (const QString& neighbour : {before, after})
            if (!album && !neighbour.isEmpty() && neighbour != fileName)
                album = SameAlbum(tags, ReadReplayGain(neighbour));
    }
    return GainFactor(tags, album);
}

std::unique_ptr<IDecoder> WithGain(std::unique_ptr<IDecoder> decoder, float factor) {
    if (!decoder || factor == 1.0f)
        return decoder;
    return std::make_unique<TGainDecoder>(std::move(decoder), factor);
}

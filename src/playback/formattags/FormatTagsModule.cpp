// libondrix-formattags.so: title and artist from the tags our ID3v2 reader does not read, with
// TagLib. The file is opened once, its first bytes say which of TagLib's file classes reads it
// (TagLib's FileRef goes by the name first, so a FLAC file named .mp3 reads as MPEG without
// tags), and that class is built without audio properties. Only the title and artist fields, and
// for the player's levelling the loudness and album fields, are looked up.
//
// Debian's TagLib 1.13 has three faults with hostile files, each guarded here: nested MP4
// container atoms and nested ID3v2 chapter frames recurse until the stack overflows, and a
// compressed ID3v2 frame is inflated whatever its size (a 2 MB file took 4 GB and 38 s). So
// MP4 files are walked first and refused when nested deeper than any real file, and ID3v2 tags
// are read through a frame factory that keeps only the title and artist frames, and those only
// uncompressed. WAV files are walked here rather than by TagLib's WAV reader, which would read
// an "id3 " chunk without that factory.
#include "playback/formattags/FormatTagsModule.h"
#include "tags/ID3v2Size.h"

#include <taglib/apetag.h>
#include <taglib/asftag.h>
#include <taglib/mp4tag.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2synchdata.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/speexfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using TagLib::ByteVector;
using TagLib::String;
using TagLib::StringList;

enum class EKind { Unknown, Mpeg, Flac, OggVorbis, OggOpus, OggFlac, OggSpeex, Mp4, Asf, Wav };

struct TTexts {
    std::string Title;
    std::string Artist;
};

// A field may hold several values (repeated Vorbis comments, MP4 items with several data atoms,
// ID3v2.4 text lists, APE lists). The caption takes the first one that is not empty, as our
// ID3v2 reader takes the first string of a frame, so a track is named alike whatever its format.
std::string First(const StringList& values) {
    for (const String& value : values)
        if (!value.isEmpty())
            return value.to8Bit(true);
    return {};
}

// A tag counts when it gives a title or an artist; then it supplies both, as the ID3v2 rule
// does, rather than mixing fields of different tags.
bool Take(TTexts& out, std::string title, std::string artist) {
    if (title.empty() && artist.empty())
        return false;
    out.Title = std::move(title);
    out.Artist = std::move(artist);
    return true;
}

bool FromXiph(const TagLib::Ogg::XiphComment* tag, TTexts& out) {
    if (tag == nullptr)
        return false;
    const TagLib::Ogg::FieldListMap& fields = tag->fieldListMap();
    const auto field = [&fields](const char* name) {
        const auto it = fields.find(name);
        return it == fields.end() ? std::string() : First(it->second);
    };
    return Take(out, field("TITLE"), field("ARTIST"));
}

bool Starts(const ByteVector& bytes, std::size_t offset, std::string_view magic) {
    return bytes.size() >= offset + magic.size() &&
           std::memcmp(bytes.data() + offset, magic.data(), magic.size()) == 0;
}

// Ogg Vorbis and Opus files keep their comments in the stream's second packet, which TagLib's
// Ogg layer assembles from the pages. TagLib's readers of those formats would then decode every
// field, a cover's base64 included (a third of the time for an Opus file with a 100 KB
// picture); here only TITLE and ARTIST are looked for.
class TOggPackets final : public TagLib::Ogg::File {
public:
    explicit TOggPackets(TagLib::IOStream* stream) : TagLib::Ogg::File(stream) {}
    TagLib::Tag* tag() const override { return nullptr; }
    TagLib::AudioProperties* audioProperties() const override { return nullptr; }
    bool save() override { return false; }
};

bool KeyIs(const char* field, unsigned int length, std::string_view key) {
    if (length <= key.size() || field[key.size()] != '=')
        return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if ((field[i] >= 'a' && field[i] <= 'z' ? field[i] - 32 : field[i]) != key[i])
            return false;
    return true;
}

// A comment packet after its codec's `magic`: a vendor string, a field count, then the fields,
// each a little-endian length and "KEY=value" in UTF-8, keys in any case. `take` sees each field
// in turn; false when the packet is not one.
template <typename F> bool ForEachComment(const ByteVector& packet, std::string_view magic, F take) {
    if (!Starts(packet, 0, magic))
        return false;
    const unsigned int size = packet.size();
    unsigned int position = unsigned(magic.size());
    if (size - position < 4 || size - position - 4 < packet.toUInt(position, false))
        return false;
    position += 4 + packet.toUInt(position, false);
    if (size - position < 4)
        return false;
    const unsigned int count = packet.toUInt(position, false);
    position += 4;
    for (unsigned int i = 0; i < count && size - position >= 4; ++i) {
        const unsigned int length = packet.toUInt(position, false);
        position += 4;
        if (length > size - position)
            break;
        take(packet.data() + position, length);
        position += length;
    }
    return true;
}

bool FromCommentPacket(const ByteVector& packet, std::string_view magic, TTexts& out) {
    std::string title;
    std::string artist;
    const bool read = ForEachComment(packet, magic, [&](const char* field, unsigned int length) {
        if (title.empty() && KeyIs(field, length, "TITLE"))
            title.assign(field + 6, length - 6);
        else if (artist.empty() && KeyIs(field, length, "ARTIST"))
            artist.assign(field + 7, length - 7);
    });
    return read && Take(out, std::move(title), std::move(artist));
}

// TagLib calls updateFrame for every frame header before it builds the frame; a frame it is
// told to discard becomes an unknown frame, whose body is only copied. Every frame but the title
// and artist is discarded, so no chapter frame parses its embedded frames, and its header is
// set again without flags, so no discarded frame is inflated either. A compressed title or
// artist is discarded too: how far it inflates is not known before it is inflated.
class TCaptionFrameFactory final : public TagLib::ID3v2::FrameFactory {
    // TagLib 1.13 declares the frame header type protected inside Frame, though the factory's
    // own virtual method takes it; a class derived from Frame may name it.
    struct TFrameTypes : TagLib::ID3v2::Frame {
        using THeader = TagLib::ID3v2::Frame::Header;
    };

protected:
    bool updateFrame(TFrameTypes::THeader* header) const override {
        const ByteVector id = header->frameID();
        const bool wanted = id == "TIT2" || id == "TPE1" || id == "TT2" || id == "TP1";
        if (wanted && !header->compression())
            return FrameFactory::updateFrame(header); // renames the version 2.2 frames
        const unsigned int version = header->version();
        if (version >= 3) {
            ByteVector plain = id;
            plain.resize(4, '\0'); // iTunes writes version 2.2 frames into version 3 tags
            plain.append(version >= 4 ? TagLib::ID3v2::SynchData::fromUInt(header->frameSize())
                                      : ByteVector::fromUInt(header->frameSize()));
            plain.append(ByteVector(2, '\0'));
            header->setData(plain, version);
        }
        return false;
    }
};

// TagLib reads version 2.2 tags under the version 2.4 frame names, undoes unsynchronisation
// and takes sizes that are not sync-safe as plain numbers.
bool FromId3v2(const TagLib::ID3v2::Tag* tag, TTexts& out) {
    if (tag == nullptr)
        return false;
    const TagLib::ID3v2::FrameListMap& frames = tag->frameListMap();
    const auto text = [&frames](const char* id) {
        const auto it = frames.find(id);
        if (it == frames.end() || it->second.isEmpty())
            return std::string();
        const TagLib::ID3v2::Frame* frame = it->second.front();
        if (const auto* list = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frame))
            return First(list->fieldList());
        return frame->toString().to8Bit(true);
    };
    return Take(out, text("TIT2"), text("TPE1"));
}

bool FromApe(const TagLib::APE::Tag* tag, TTexts& out) {
    if (tag == nullptr)
        return false;
    const TagLib::APE::ItemListMap& items = tag->itemListMap();
    const auto item = [&items](const char* key) {
        const auto it = items.find(key);
        return it == items.end() ? std::string() : First(it->second.values());
    };
    return Take(out, item("TITLE"), item("ARTIST"));
}

// Single-valued tags: ID3v1, ASF's content description, RIFF INFO.
bool FromPlain(const TagLib::Tag* tag, TTexts& out) {
    return tag != nullptr && Take(out, tag->title().to8Bit(true), tag->artist().to8Bit(true));
}

bool FromMp4(const TagLib::MP4::Tag* tag, TTexts& out) {
    if (tag == nullptr)
        return false;
    const auto item = [tag](const char* key) {
        return tag->contains(key) ? First(tag->item(key).toStringList()) : std::string();
    };
    return Take(out, item("\251nam"), item("\251ART"));
}

bool MpegSync(const ByteVector& bytes, std::size_t offset) {
    return bytes.size() >= offset + 2 && uint8_t(bytes[offset]) == 0xFF &&
           (uint8_t(bytes[offset + 1]) & 0xE0) == 0xE0;
}

bool HasMpegName(const char* path) {
    const std::string_view name(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.find('/', dot) != std::string_view::npos)
        return false;
    std::string extension(name.substr(dot + 1));
    for (char& c : extension)
        c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return extension == "mp3" || extension == "mp2" || extension == "mpga";
}

// The codec of an Ogg stream is named by its first packet, which begins the first page.
EKind OggKind(const ByteVector& head) {
    if (head.size() < 27)
        return EKind::Unknown;
    const std::size_t packet = 27 + uint8_t(head[26]);
    if (Starts(head, packet, "\x01vorbis"))
        return EKind::OggVorbis;
    if (Starts(head, packet, "OpusHead"))
        return EKind::OggOpus;
    if (Starts(head, packet,
               "\x7F"
               "FLAC"))
        return EKind::OggFlac;
    if (Starts(head, packet, "Speex   "))
        return EKind::OggSpeex;
    return EKind::Unknown;
}

// The bytes the module reads itself, through TagLib's stream like all the rest, with the size
// known from fstat: the stream finds it by seeking to the end and back.
class TBytes {
public:
    TBytes(TagLib::IOStream& stream, long long size) : fStream(stream), fSize(size) {}

    long long Size() const { return fSize; }

    // Fewer bytes than asked at the end of the file or on a read error.
    ByteVector Read(long long position, long long size) const {
        size = std::min(size, fSize - position);
        if (position < 0 || size <= 0)
            return {};
        fStream.seek(long(position));
        return fStream.readBlock(static_cast<unsigned long>(size));
    }

private:
    TagLib::IOStream& fStream;
    long long fSize;
};

// The GUID of an ASF header object, which every WMA file begins with.
constexpr char kAsfHeader[] = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";

// The file's format from its first bytes. MPEG audio has no magic of its own and may follow
// junk, so a file that matches nothing is taken as MPEG only when its name says so.
EKind Sniff(const TBytes& file, const char* path) {
    const ByteVector head = file.Read(0, 27 + 255 + 8);
    if (Starts(head, 0, "ID3") && head.size() >= kID3v2HeaderSize) {
        // FLAC files sometimes carry an ID3v2 tag in front; everything else with one is MPEG.
        const int64_t end = ID3v2TagSize(reinterpret_cast<const uint8_t*>(head.data()));
        return end > 0 && file.Read(end, 4) == "fLaC" ? EKind::Flac : EKind::Mpeg;
    }
    if (Starts(head, 0, "fLaC"))
        return EKind::Flac;
    if (Starts(head, 0, "OggS"))
        return OggKind(head);
    if (Starts(head, 4, "ftyp"))
        return EKind::Mp4;
    if (Starts(head, 0, std::string_view(kAsfHeader, sizeof kAsfHeader - 1)))
        return EKind::Asf;
    if (Starts(head, 0, "RIFF") && Starts(head, 8, "WAVE"))
        return EKind::Wav;
    if (MpegSync(head, 0) || HasMpegName(path))
        return EKind::Mpeg;
    return EKind::Unknown;
}

// Real files nest container atoms about eight deep (moov, trak, mdia, minf, stbl, stsd).
constexpr std::size_t kMaxAtomDepth = 32;

// Whether TagLib may read this MP4 file without recursing too deep. The atoms are walked as
// TagLib walks them, descending into every atom it treats as a container (and a few more), with
// a stack of container ends instead of recursion. Atom headers lie close together, so they are
// read through a window of the file rather than one read each.
bool ShallowAtoms(const TBytes& file) {
    static constexpr std::string_view containers[] = {"moov", "udta", "mdia", "meta", "ilst",
                                                      "stbl", "minf", "moof", "traf", "trak",
                                                      "stsd", "edts", "dinf", "mvex"};
    constexpr long long kWindow = 4096;
    ByteVector window;
    long long windowStart = 0;
    const auto read = [&](long long position, unsigned int size) {
        if (position < windowStart || position + size > windowStart + window.size()) {
            window = file.Read(position, kWindow);
            windowStart = position;
        }
        return window.mid(unsigned(position - windowStart), size);
    };
    std::vector<long long> ends{file.Size()};
    long long position = 0;
    while (!ends.empty()) {
        if (position + 8 > ends.back()) {
            position = std::max(position, ends.back());
            ends.pop_back();
            continue;
        }
        const ByteVector header = read(position, 8);
        if (header.size() < 8)
            return true;
        long long length = header.toUInt(0, true);
        long long headerSize = 8;
        if (length == 1) {
            const ByteVector wide = read(position + 8, 8);
            if (wide.size() < 8)
                return true;
            length = wide.toLongLong(0, true);
            headerSize = 16;
        } else if (length == 0) {
            length = file.Size() - position; // the last atom runs to the end of the file
        }
        if (length < headerSize)
            return true; // TagLib stops reading at an atom this short
        const std::string_view name(header.data() + 4, 4);
        bool container = false;
        for (std::string_view c : containers)
            container = container || name == c;
        if (!container) {
            position += length;
            continue;
        }
        if (ends.size() > kMaxAtomDepth)
            return false;
        ends.push_back(position + length);
        position += headerSize + (name == "meta" ? 4 : name == "stsd" ? 8 : 0);
    }
    return true;
}

// The RIFF chunks of a WAV file: a LIST chunk of type INFO and an "id3 " chunk. A chunk whose
// size claims more than any tag holds is left unread rather than read up to the file's end.
bool ReadWav(const TBytes& file, TTexts& out) {
    constexpr long long kLargestTag = 64 << 20;
    ByteVector info;
    ByteVector id3;
    for (long long position = 12; position + 8 <= file.Size();) {
        const ByteVector header = file.Read(position, 12);
        if (header.size() < 8)
            break;
        const long long size = header.toUInt(4, false);
        if (size <= kLargestTag) {
            const ByteVector id = header.mid(0, 4);
            if (id == "LIST" && info.isEmpty() && header.mid(8, 4) == "INFO")
                info = file.Read(position + 8, size); // TagLib's reader takes it with its type
            else if (id == "id3 " || id == "ID3 ")
                id3 = file.Read(position + 8, size);
        }
        position += 8 + size + (size & 1); // chunks are padded to an even length
    }
    if (!id3.isEmpty()) {
        // TagLib reads an ID3v2 tag only from a file: the chunk is one, held in memory.
        TagLib::ByteVectorStream chunk(id3);
        TCaptionFrameFactory factory;
        TagLib::MPEG::File tags(&chunk, &factory, false);
        if (tags.isValid() && tags.hasID3v2Tag() && FromId3v2(tags.ID3v2Tag(), out))
            return true;
    }
    if (!info.isEmpty()) {
        const TagLib::RIFF::Info::Tag tag(info);
        return FromPlain(&tag, out);
    }
    return false;
}

// The tags of a file TagLib's class for its format reads.
bool Read(TagLib::IOStream* stream, EKind kind, TTexts& out) {
    constexpr bool noProperties = false;
    TCaptionFrameFactory factory;
    switch (kind) {
    case EKind::Mpeg: {
        // TagLib's order: ID3v2 (wherever it finds it before the audio), APE, ID3v1
        TagLib::MPEG::File file(stream, &factory, noProperties);
        return file.isValid() && ((file.hasID3v2Tag() && FromId3v2(file.ID3v2Tag(), out)) ||
                                  (file.hasAPETag() && FromApe(file.APETag(), out)) ||
                                  (file.hasID3v1Tag() && FromPlain(file.ID3v1Tag(), out)));
    }
    case EKind::Flac: {
        TagLib::FLAC::File file(stream, &factory, noProperties);
        return file.isValid() && (FromXiph(file.xiphComment(), out) ||
                                  (file.hasID3v2Tag() && FromId3v2(file.ID3v2Tag(), out)) ||
                                  (file.hasID3v1Tag() && FromPlain(file.ID3v1Tag(), out)));
    }
    case EKind::OggVorbis:
    case EKind::OggOpus: {
        TOggPackets file(stream);
        const std::string_view magic(kind == EKind::OggOpus ? "OpusTags" : "\x03vorbis");
        return file.isValid() && FromCommentPacket(file.packet(1), magic, out);
    }
    case EKind::OggFlac: {
        TagLib::Ogg::FLAC::File file(stream, noProperties);
        return file.isValid() && FromXiph(file.tag(), out);
    }
    case EKind::OggSpeex: {
        TagLib::Ogg::Speex::File file(stream, noProperties);
        return file.isValid() && FromXiph(file.tag(), out);
    }
    case EKind::Mp4: {
        TagLib::MP4::File file(stream, noProperties);
        return file.isValid() && FromMp4(file.tag(), out);
    }
    case EKind::Asf: {
        TagLib::ASF::File file(stream, noProperties);
        return file.isValid() && FromPlain(file.tag(), out);
    }
    case EKind::Wav:
    case EKind::Unknown:
        break;
    }
    return false;
}

using TLoudness = IFormatTags::TLoudnessTexts;

std::string Upper(std::string text) {
    for (char& c : text)
        c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
    return text;
}

// A loudness or album field by its name in upper case; the first value that is not empty wins.
void TakeLoudness(const std::string& name, std::string value, TLoudness& out) {
    static const std::pair<std::string_view, std::string TLoudness::*> fields[] = {
        {"REPLAYGAIN_TRACK_GAIN", &TLoudness::TrackGain},
        {"REPLAYGAIN_TRACK_PEAK", &TLoudness::TrackPeak},
        {"REPLAYGAIN_ALBUM_GAIN", &TLoudness::AlbumGain},
        {"REPLAYGAIN_ALBUM_PEAK", &TLoudness::AlbumPeak},
        {"R128_TRACK_GAIN", &TLoudness::R128TrackGain},
        {"R128_ALBUM_GAIN", &TLoudness::R128AlbumGain},
        {"ALBUM", &TLoudness::Album},
        {"ALBUMARTIST", &TLoudness::AlbumArtist},
        {"ALBUM ARTIST", &TLoudness::AlbumArtist},
    };
    if (value.empty())
        return;
    for (const auto& [key, field] : fields)
        if (name == key && (out.*field).empty())
            out.*field = std::move(value);
}

bool Any(const TLoudness& l) {
    return !(l.TrackGain.empty() && l.TrackPeak.empty() && l.AlbumGain.empty() &&
             l.AlbumPeak.empty() && l.R128TrackGain.empty() && l.R128AlbumGain.empty() &&
             l.Album.empty() && l.AlbumArtist.empty());
}

void LoudnessFromXiph(const TagLib::Ogg::XiphComment* tag, TLoudness& out) {
    if (tag == nullptr)
        return;
    for (const auto& [key, values] : tag->fieldListMap())
        TakeLoudness(Upper(key.to8Bit(true)), First(values), out);
}

void LoudnessFromPacket(const ByteVector& packet, std::string_view magic, TLoudness& out) {
    ForEachComment(packet, magic, [&out](const char* field, unsigned int length) {
        const std::string_view text(field, length);
        const std::size_t equals = text.find('=');
        if (equals != std::string_view::npos)
            TakeLoudness(Upper(std::string(text.substr(0, equals))),
                         std::string(text.substr(equals + 1)), out);
    });
}

// iTunes keeps what it has no atom for as "----" items, named by a mean and a name.
void LoudnessFromMp4(const TagLib::MP4::Tag* tag, TLoudness& out) {
    if (tag == nullptr)
        return;
    constexpr std::string_view freeform = "----:com.apple.iTunes:";
    for (const auto& [key, item] : tag->itemMap()) {
        const std::string name = key.to8Bit(true);
        std::string value = First(item.toStringList());
        if (value.empty() && !item.toByteVectorList().isEmpty()) {
            const ByteVector bytes = item.toByteVectorList().front(); // data stored untyped
            value.assign(bytes.data(), bytes.size());
        }
        if (key == "\251alb") // TagLib names the atom in Latin-1
            TakeLoudness("ALBUM", value, out);
        else if (key == "aART")
            TakeLoudness("ALBUMARTIST", value, out);
        else if (name.size() > freeform.size() && name.compare(0, freeform.size(), freeform) == 0)
            TakeLoudness(Upper(name.substr(freeform.size())), value, out);
    }
}

void LoudnessFromAsf(const TagLib::ASF::Tag* tag, TLoudness& out) {
    if (tag == nullptr)
        return;
    for (const auto& [key, attributes] : tag->attributeListMap()) {
        if (attributes.isEmpty())
            continue;
        const std::string name = Upper(key.to8Bit(true));
        const std::string value = attributes.front().toString().to8Bit(true);
        if (name == "WM/ALBUMTITLE")
            TakeLoudness("ALBUM", value, out);
        else if (name == "WM/ALBUMARTIST")
            TakeLoudness("ALBUMARTIST", value, out);
        else
            TakeLoudness(name, value, out);
    }
}

// The loudness fields of the formats whose tags our own readers do not read: MPEG and WAV files
// are left to them.
void ReadLoudness(TagLib::IOStream* stream, EKind kind, TLoudness& out) {
    constexpr bool noProperties = false;
    TCaptionFrameFactory factory;
    switch (kind) {
    case EKind::Flac: {
        TagLib::FLAC::File file(stream, &factory, noProperties);
        if (file.isValid())
            LoudnessFromXiph(file.xiphComment(), out);
        break;
    }
    case EKind::OggVorbis:
    case EKind::OggOpus: {
        TOggPackets file(stream);
        const std::string_view magic(kind == EKind::OggOpus ? "OpusTags" : "\x03vorbis");
        if (file.isValid())
            LoudnessFromPacket(file.packet(1), magic, out);
        break;
    }
    case EKind::OggFlac: {
        TagLib::Ogg::FLAC::File file(stream, noProperties);
        if (file.isValid())
            LoudnessFromXiph(file.tag(), out);
        break;
    }
    case EKind::Mp4: {
        TagLib::MP4::File file(stream, noProperties);
        if (file.isValid())
            LoudnessFromMp4(file.tag(), out);
        break;
    }
    case EKind::Asf: {
        TagLib::ASF::File file(stream, noProperties);
        if (file.isValid())
            LoudnessFromAsf(file.tag(), out);
        break;
    }
    default:
        break;
    }
}

// Opens `path` as a regular file, without blocking (a FIFO or a device would otherwise hold
// the reading thread, as the ID3v2 reader refuses them too), and gives `read` TagLib's stream
// over it with the format its first bytes name. False where it cannot be opened or `read` is.
template <typename F> bool WithFile(const char* path, F read) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    try {
        // TagLib's stream owns the descriptor from here on and closes it.
        TagLib::FileStream stream(fd, true);
        if (!stream.isOpen()) {
            ::close(fd);
            return false;
        }
        const TBytes file(stream, info.st_size);
        const EKind kind = Sniff(file, path);
        stream.seek(0);
        if (kind == EKind::Mp4 && !ShallowAtoms(file))
            return false;
        return read(stream, file, kind);
    } catch (...) {
        // TagLib raises nothing of its own; a damaged size can still end in bad_alloc
        return false;
    }
}

class TFormatTags final : public IFormatTags {
public:
    bool TitleArtist(const char* path, std::string& title, std::string& artist) override {
        title.clear();
        artist.clear();
        TTexts texts;
        const bool found =
            WithFile(path, [&texts](TagLib::FileStream& stream, const TBytes& file, EKind kind) {
                return kind == EKind::Wav ? ReadWav(file, texts) : Read(&stream, kind, texts);
            });
        if (!found)
            return false;
        title = std::move(texts.Title);
        artist = std::move(texts.Artist);
        return true;
    }

    bool Loudness(const char* path, TLoudnessTexts& out) override {
        out = {};
        TLoudness read;
        if (!WithFile(path, [&read](TagLib::FileStream& stream, const TBytes&, EKind kind) {
                ReadLoudness(&stream, kind, read);
                return Any(read);
            }))
            return false;
        out = std::move(read);
        return true;
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) IFormatTags* OndrixFormatTags(int version) {
    static TFormatTags reader;
    return version == kFormatTagsVersion ? &reader : nullptr;
}

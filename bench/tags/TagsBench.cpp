// Title and artist of 2,000 tagged files with a warm page cache: our reader, TagLib, and the
// floor (open, read the header, read the tag's declared size, close). One iteration reads the
// whole corpus; items per second are files per second.

#include "tags/ID3v2Library.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef ONDRIX_HAVE_TAGLIB
#include <id3v2tag.h>
#include <mpegfile.h>
#endif

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int kFiles = 2000;
constexpr std::size_t kPicture = 100 * 1024;
constexpr std::size_t kPadding = 2 * 1024;
constexpr std::size_t kAudio = 200 * 1024;

std::vector<std::string> gPaths;
std::vector<std::u16string> gPaths16;

// push_back rather than insert: GCC 12 warns falsely on small inserts into fresh vectors
void Put(Bytes& out, std::string_view s) {
    for (char c : s)
        out.push_back(uint8_t(c));
}

void Put(Bytes& out, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes)
        out.push_back(b);
}

void PutSize(Bytes& out, uint32_t v, bool syncSafe) {
    if (syncSafe)
        v = ((v & 0x0FE00000) << 3) | ((v & 0x001FC000) << 2) | ((v & 0x3F80) << 1) | (v & 0x7F);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

void PutFrame(Bytes& out, int major, std::string_view id, const Bytes& body) {
    Put(out, id);
    PutSize(out, uint32_t(body.size()), major == 4);
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), body.begin(), body.end());
}

// Version 3 files carry UTF-16 with a mark, as most writers of that version do; version 4
// files carry UTF-8.
Bytes TextBody(int major, const std::u16string& text) {
    Bytes b;
    if (major == 3) {
        Put(b, {1, 0xFF, 0xFE});
        for (char16_t c : text) {
            b.push_back(uint8_t(c));
            b.push_back(uint8_t(c >> 8));
        }
    } else {
        Put(b, {3});
        for (char16_t c : text) {
            if (c < 0x80) {
                b.push_back(uint8_t(c));
            } else {
                b.push_back(uint8_t(0xC0 | (c >> 6)));
                b.push_back(uint8_t(0x80 | (c & 0x3F)));
            }
        }
    }
    return b;
}

std::u16string Number(int i) {
    const std::string s = std::to_string(i);
    return std::u16string(s.begin(), s.end());
}

std::u16string Title(int i) {
    return u"Píseň číslo " + Number(i);
}
std::u16string Artist(int i) {
    return u"Kapela " + Number(i % 37);
}

Bytes MakeFile(int i, std::mt19937& random) {
    const int major = i % 2 == 0 ? 3 : 4;
    const bool picture = (i / 2) % 2 == 0;
    Bytes frames;
    PutFrame(frames, major, "TIT2", TextBody(major, Title(i)));
    PutFrame(frames, major, "TPE1", TextBody(major, Artist(i)));
    PutFrame(frames, major, "TALB", TextBody(major, u"Album " + Number(i % 101)));
    PutFrame(frames, major, "TRCK", TextBody(major, Number(i % 12 + 1)));
    PutFrame(frames, major, major == 3 ? "TYER" : "TDRC", TextBody(major, u"1998"));
    // COMM: encoding, language, empty description, text
    const Bytes text = TextBody(major, u"Ripped for the benchmark");
    Bytes comment = {text[0]};
    Put(comment, "eng");
    if (major == 3)
        Put(comment, {0xFF, 0xFE, 0, 0});
    else
        Put(comment, {0});
    comment.insert(comment.end(), text.begin() + 1, text.end());
    PutFrame(frames, major, "COMM", comment);
    if (picture) {
        Bytes apic = {0};
        Put(apic, "image/jpeg");
        Put(apic, {0, 3, 0, 0xFF, 0xD8, 0xFF, 0xE0});
        while (apic.size() < kPicture)
            apic.push_back(uint8_t(random()));
        PutFrame(frames, major, "APIC", apic);
    }
    Bytes file;
    Put(file, "ID3");
    Put(file, {uint8_t(major), 0, 0});
    PutSize(file, uint32_t(frames.size() + kPadding), true);
    file.insert(file.end(), frames.begin(), frames.end());
    file.resize(file.size() + kPadding, 0);
    // audio-like: MPEG frame headers every 417 bytes, noise between
    const std::size_t audioStart = file.size();
    file.resize(audioStart + kAudio);
    for (std::size_t k = 0; k < kAudio; ++k)
        file[audioStart + k] = k % 417 == 0 ? 0xFF : k % 417 == 1 ? 0xFB : uint8_t(random());
    return file;
}

bool PrepareCorpus(const fs::path& dir) {
    const fs::path marker = dir / "complete";
    std::error_code ec;
    fs::create_directories(dir, ec);
    const bool ready = fs::exists(marker);
    std::mt19937 random(2026);
    for (int i = 0; i < kFiles; ++i) {
        const fs::path p = dir / ("track" + std::to_string(i) + ".mp3");
        gPaths.push_back(p.string());
        gPaths16.push_back(p.u16string());
        if (ready)
            continue;
        const Bytes file = MakeFile(i, random);
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        if (!out)
            return false;
    }
    if (!ready)
        std::ofstream(marker) << kFiles << "\n";
    // warm the page cache
    std::vector<char> buffer(1 << 20);
    for (const std::string& p : gPaths) {
        std::ifstream in(p, std::ios::binary);
        while (in.read(buffer.data(), std::streamsize(buffer.size())))
            ;
    }
    return true;
}

// Our reader must give the right texts before it is timed.
bool CheckOurTexts() {
    TID3v2Tag tag;
    std::u16string title, artist;
    for (int i = 0; i < kFiles; ++i) {
        tag.LoadFromFile(gPaths16[std::size_t(i)]);
        tag.GetUnicodeText("TIT2", title);
        tag.GetUnicodeText("TPE1", artist);
        if (title != Title(i) || artist != Artist(i))
            return false;
    }
    return true;
}

void BM_Ondrix(benchmark::State& state) {
    TID3v2Tag tag;
    std::u16string title, artist;
    for (auto _ : state) {
        for (const std::u16string& p : gPaths16) {
            tag.LoadFromFile(p);
            tag.GetUnicodeText("TIT2", title);
            tag.GetUnicodeText("TPE1", artist);
            benchmark::DoNotOptimize(title.data());
            benchmark::DoNotOptimize(artist.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

#ifdef ONDRIX_HAVE_TAGLIB
void BM_TagLib(benchmark::State& state) {
    for (auto _ : state) {
        for (const std::string& p : gPaths) {
            TagLib::MPEG::File file(p.c_str(), false);
            TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
            if (!tag) {
                state.SkipWithError("TagLib found no tag");
                return;
            }
            const TagLib::String title = tag->title();
            const TagLib::String artist = tag->artist();
            benchmark::DoNotOptimize(title.size() + artist.size());
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
#endif

void BM_Floor(benchmark::State& state) {
    std::vector<uint8_t> buffer(kPicture + 64 * 1024);
    for (auto _ : state) {
        for (const std::string& p : gPaths) {
            const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
            uint8_t header[10];
            if (fd < 0 || ::read(fd, header, 10) != 10) {
                state.SkipWithError("cannot read the corpus");
                return;
            }
            const std::size_t size = (std::size_t(header[6] & 0x7F) << 21) |
                                     (std::size_t(header[7] & 0x7F) << 14) |
                                     (std::size_t(header[8] & 0x7F) << 7) | (header[9] & 0x7F);
            if (buffer.size() < size)
                buffer.resize(size);
            benchmark::DoNotOptimize(::read(fd, buffer.data(), size));
            ::close(fd);
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

} // namespace

BENCHMARK(BM_Ondrix)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#ifdef ONDRIX_HAVE_TAGLIB
BENCHMARK(BM_TagLib)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif
BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
    const char* env = std::getenv("ONDRIX_TAG_CORPUS");
    const fs::path dir = env && *env ? env : ONDRIX_TAG_CORPUS_DEFAULT;
    if (!PrepareCorpus(dir)) {
        std::fprintf(stderr, "bench_tags: cannot write the corpus into %s\n", dir.c_str());
        return 1;
    }
    if (!CheckOurTexts()) {
        std::fprintf(stderr, "bench_tags: our reader gave wrong texts on the corpus\n");
        return 1;
    }
#ifndef ONDRIX_HAVE_TAGLIB
    std::fprintf(stderr, "bench_tags: TagLib not found, comparing with the floor only\n");
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

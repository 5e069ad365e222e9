#include "TagTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace tagbytes;
namespace fs = std::filesystem;

namespace {

class ID3v2File : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("ondrix-tags-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir / "locked.mp3", fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }

    std::u16string Write(const std::string& name, const Bytes& bytes) {
        const fs::path p = dir / fs::u8path(name);
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p.u16string();
    }

    fs::path dir;
};

// Same frames whether read from a file in blocks or from memory.
void ExpectSameFrames(const TID3v2Tag& a, const TID3v2Tag& b) {
    ASSERT_EQ(a.FrameCount, b.FrameCount);
    for (std::size_t i = 0; i < a.Frames.size(); ++i) {
        EXPECT_EQ(a.Frames[i]->ID, b.Frames[i]->ID) << i;
        EXPECT_EQ(a.Frames[i]->FrameSize, b.Frames[i]->FrameSize) << i;
        EXPECT_EQ(a.Frames[i]->DataLength, b.Frames[i]->DataLength) << i;
        EXPECT_TRUE(a.Frames[i]->Data == b.Frames[i]->Data) << i;
    }
}

// A tagged file loads, records its name, and gives title and artist, also under a non-ASCII name.
TEST_F(ID3v2File, LoadsTaggedFile) {
    TID3v2Tag tag;
    const std::u16string path =
        Write("P\xC5\x99\xC3\xADli\xC5\xA1 \xE2\x99\xAA.mp3",
              Cat({sample::TitleArtistV4Utf8(), AudioStart(), Zeros(5000)}));
    EXPECT_EQ(tag.LoadFromFile(path), 0);
    EXPECT_TRUE(tag.Loaded);
    EXPECT_EQ(tag.LoadedFileName, path);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"P\u0159\u00EDli\u0161");
    EXPECT_EQ(TextOf(tag, "TPE1"), u"Kapela");
}

// Missing, directory, device, pipe, unreadable and unnameable paths all give 3 and no frames,
// and the last good name is kept.
TEST_F(ID3v2File, PathsThatCannotBeRead) {
    TID3v2Tag tag;
    const std::u16string good = Write("good.mp3", sample::TitleArtistV3());
    ASSERT_EQ(tag.LoadFromFile(good), 0);

    const fs::path fifo = dir / "pipe.mp3";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::u16string locked = Write("locked.mp3", sample::TitleArtistV3());
    fs::permissions(dir / "locked.mp3", fs::perms::none);
    const bool root = ::geteuid() == 0;

    const std::u16string paths[] = {(dir / "missing.mp3").u16string(),
                                    dir.u16string(),
                                    u"/dev/null",
                                    fifo.u16string(),
                                    u"",
                                    u"bad\xD800.mp3",
                                    good + u'\0'};
    for (const std::u16string& p : paths) {
        ASSERT_EQ(tag.LoadFromFile(good), 0);
        EXPECT_EQ(tag.LoadFromFile(p), 3) << fs::path(p).string();
        EXPECT_EQ(tag.FrameCount, 0);
        EXPECT_FALSE(tag.Loaded);
        EXPECT_EQ(tag.LoadedFileName, good);
        EXPECT_EQ(TextOf(tag, "TIT2"), u"");
    }
    if (!root) {
        EXPECT_EQ(tag.LoadFromFile(locked), 3);
    }
}

// A file without a tag gives 65535 and keeps the earlier name.
TEST_F(ID3v2File, FileWithoutTag) {
    TID3v2Tag tag;
    const std::u16string good = Write("good.mp3", sample::TitleArtistV3());
    ASSERT_EQ(tag.LoadFromFile(good), 0);
    EXPECT_EQ(tag.LoadFromFile(Write("plain.mp3", Cat({AudioStart(), Zeros(3000)}))), 65535);
    EXPECT_EQ(tag.LoadFromFile(Write("empty.mp3", {})), 65535);
    EXPECT_EQ(tag.FrameCount, 0);
    EXPECT_EQ(tag.LoadedFileName, good);
}

// Frames larger than a read block and frames straddling block edges come out intact.
TEST_F(ID3v2File, BlockEdgesMatchMemory) {
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        Bytes body;
        const int frames = 1 + int(random() % 12);
        for (int i = 0; i < frames; ++i) {
            // sizes around the 4 KB block and its multiples, small and large ones
            const std::size_t pick = random() % 4;
            const std::size_t size = pick == 0   ? random() % 16
                                     : pick == 1 ? 4096 * (1 + random() % 4) - 24 + random() % 48
                                     : pick == 2 ? random() % 3000
                                                 : random() % 70000;
            Bytes payload(size);
            for (uint8_t& b : payload)
                b = uint8_t(random());
            const uint16_t flags = (random() % 3 == 0) ? 0x0041 : 0;
            const Bytes f = Frame(4, "APIC", payload, flags);
            body.insert(body.end(), f.begin(), f.end());
        }
        const bool truncate = round % 5 == 4;
        Bytes file = Cat({Header(4, uint32_t(body.size())), body, AudioStart(), Zeros(1000)});
        if (truncate)
            file.resize(file.size() / 2);

        TID3v2Tag fromFile, fromMemory;
        ASSERT_EQ(fromFile.LoadFromFile(Write("t.mp3", file)), 0);
        ASSERT_EQ(LoadBytes(fromMemory, file), 0);
        ExpectSameFrames(fromFile, fromMemory);
        if (!truncate) {
            EXPECT_EQ(fromFile.FrameCount, frames);
        }
    }
}

// A size of 4 GB in a small file costs only the bytes that are there.
TEST_F(ID3v2File, HugeSizeInSmallFile) {
    TID3v2Tag tag;
    ASSERT_EQ(tag.LoadFromFile(Write("huge.mp3", sample::HugeFrameSize())), 0);
    ASSERT_EQ(tag.FrameCount, 1);
    EXPECT_EQ(tag.Frames[0]->Data, Text(0, "Song"));
    EXPECT_EQ(TextOf(tag, "TIT2"), u"Song");
}

// One reader goes through many files: each load shows only its own file's frames.
TEST_F(ID3v2File, ReaderReusedAcrossFiles) {
    TID3v2Tag tag;
    const std::u16string a = Write("a.mp3", sample::TitleArtistV3());
    const std::u16string b = Write("b.mp3", sample::TwoTitles());
    const std::u16string c = Write("c.wav", B("RIFF\x10\0\0\0WAVEfmt "));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(tag.LoadFromFile(a), 0);
        EXPECT_EQ(TextOf(tag, "TPE1"), u"Band");
        ASSERT_EQ(tag.LoadFromFile(b), 0);
        EXPECT_EQ(TextOf(tag, "TPE1"), u"");
        EXPECT_EQ(TextOf(tag, "TIT2"), u"First");
        ASSERT_EQ(tag.LoadFromFile(c), 65535);
        EXPECT_EQ(TextOf(tag, "TIT2"), u"");
        EXPECT_EQ(tag.LoadedFileName, b);
    }
}

} // namespace

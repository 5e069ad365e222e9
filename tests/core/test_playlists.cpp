#include "core/Errors.h"
#include "core/FileNames.h"
#include "core/FolderScan.h"
#include "core/NaturalOrder.h"
#include "core/PlayListFormats.h"
#include "core/ShuffleOrder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Creates a file by its raw name, as a file manager would, whatever its bytes.
void Touch(const QByteArray& path, const QByteArray& bytes = {}) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

QString Raw(const QByteArray& bytes) {
    return DecodeFileName(bytes);
}

std::set<QString> Exists(std::initializer_list<QString> paths) {
    return std::set<QString>(paths);
}

TPlayListEntries Parse(EPlayListFormat format, const QByteArray& bytes,
                       const std::set<QString>& existing = {}) {
    return ParsePlayList(format, bytes, QStringLiteral("/music/lists"),
                         [&](const QString& path) { return existing.count(path) > 0; });
}

} // namespace

// Qt 6.4 decodes a name that is not UTF-8 with replacement characters, so its own round trip
// loses the name; ours gives every byte string back as it was, and URIs carry it too.
TEST(FileNames, NamesThatAreNotUtf8SurviveTheWayThroughText) {
    const QByteArray latin1("/music/caf\xE9 - \xFF.mp3");
    ASSERT_NE(QFile::encodeName(QFile::decodeName(latin1)), latin1)
        << "Qt keeps such names now: the escapes may no longer be needed";
    for (const QByteArray& bytes :
         {QByteArray("/plain/ascii.mp3"), QByteArray("/m/P\xC3\xADse\xC5\x88.mp3"), latin1,
          QByteArray("\xC3"),                              // a sequence cut short
          QByteArray("\xC0\xAF"),                          // an overlong "/"
          QByteArray("\xED\xA0\x80\xED\xB0\x80"),          // a surrogate pair written as UTF-8
          QByteArray("\xF0\x9F\x8E\xB5 \xF4\x90\x80\x80"), // a real four-byte one, one too high
          QByteArray("\x80\x80\xBF\xFE"),
          QByteArray("\xEF\xBB\xBF"
                     "begins with U+FEFF")}) {
        const QString text = DecodeFileName(bytes);
        EXPECT_EQ(EncodeFileName(text), bytes) << bytes.toHex().constData();
        const bool escaped = std::any_of(text.begin(), text.end(), [](QChar c) {
            return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
        });
        EXPECT_EQ(IsUtf8(bytes), !escaped) << bytes.toHex().constData();
        EXPECT_EQ(FileUriToPath(PathToFileUri(QStringLiteral("/x/") + text)),
                  QStringLiteral("/x/") + text);
    }
    EXPECT_EQ(DecodeFileName("P\xC3\xADse\xC5\x88"), QStringLiteral("Píseň"));
    EXPECT_EQ(PathToFileUri(Raw("/a b/caf\xE9#1.mp3")), "file:///a%20b/caf%E9%231.mp3");
    EXPECT_EQ(FileUriToPath("file://localhost/a%20b/x.mp3"), QStringLiteral("/a b/x.mp3"));
    EXPECT_EQ(FileUriToPath("FILE:/a.mp3"), QStringLiteral("/a.mp3"));
    EXPECT_EQ(FileUriToPath("file://server/a.mp3"), QString());
    EXPECT_EQ(FileUriToPath("http://example.org/a.mp3"), QString());
    EXPECT_EQ(FileUriToPath("file:///a%00b.mp3"), QString());
}

// Numbers compare as numbers, case does not count, and names that tie are told apart by their
// bytes, so the order is the same every time.
TEST(NaturalOrder, NumbersAsNumbersTiesByBytes) {
    const QStringList expected{"01 - y.mp3",
                               "1 - z.mp3",
                               "2 - b.mp3",
                               "10 - a.mp3",
                               "a.mp3",
                               "A2.mp3",
                               "a10.mp3",
                               "Album 9",
                               "album 10",
                               "CD1",
                               "cd2",
                               "track",
                               "Track 2.mp3",
                               "track 2.mp3",
                               "track2.mp3",
                               "x99999999999999999999",
                               "x100000000000000000000"};
    QStringList shuffled = expected;
    std::reverse(shuffled.begin(), shuffled.end());
    std::swap(shuffled[2], shuffled[9]);
    std::sort(shuffled.begin(), shuffled.end(), NaturalLess);
    EXPECT_EQ(shuffled, expected);
    EXPECT_EQ(NaturalCompare("a", "a"), 0);
    EXPECT_LT(NaturalCompare("Track 2.mp3", "track 2.mp3"), 0); // "T" before "t" as bytes
}

// A folder tree: natural order, sub-folders and files by name together, links followed, each
// folder entered once however the links lead back to it, links to nothing skipped.
TEST(FolderScan, EveryFileOnceInNaturalOrder) {
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    for (const char* folder : {"/music", "/music/10 - Late", "/music/2 - Early", "/elsewhere"})
        ASSERT_EQ(::mkdir((root + folder).constData(), 0755), 0);
    for (const char* file :
         {"/music/10 - Late/b.mp3", "/music/10 - Late/a.mp3", "/music/2 - Early/10.mp3",
          "/music/2 - Early/9.mp3", "/music/1.mp3", "/music/cover.jpg", "/elsewhere/x.mp3"})
        Touch(root + file);
    Touch(root + "/music/caf\xE9.mp3");
    // a loop back up, a second way into a folder already read, one outside, one to nothing
    ASSERT_EQ(::symlink("..", (root + "/music/2 - Early/up").constData()), 0);
    ASSERT_EQ(::symlink("2 - Early", (root + "/music/3 - again").constData()), 0);
    ASSERT_EQ(::symlink((root + "/elsewhere").constData(), (root + "/music/4 - out").constData()),
              0);
    ASSERT_EQ(::symlink("nowhere.mp3", (root + "/music/5.mp3").constData()), 0);

    TFolderScan scan;
    std::atomic<bool> cancel{false};
    std::atomic<int64_t> seen{0};
    ScanFolder(
        dir.path() + "/music", [](const QString& path) { return !path.endsWith(".jpg"); }, scan,
        cancel, seen);
    const QString m = dir.path() + "/music";
    EXPECT_EQ(scan.Files,
              QStringList({m + "/1.mp3", m + "/2 - Early/9.mp3", m + "/2 - Early/10.mp3",
                           m + "/4 - out/x.mp3", m + "/10 - Late/a.mp3", m + "/10 - Late/b.mp3",
                           m + Raw("/caf\xE9.mp3")}));
    EXPECT_TRUE(scan.Unreadable.isEmpty()) << scan.Unreadable.join('\n').toStdString();
    EXPECT_GE(seen.load(), scan.Files.size());
    ASSERT_TRUE(QFileInfo::exists(scan.Files[1]));
    EXPECT_EQ(::access(EncodeFileName(scan.Files.back()).constData(), F_OK), 0);
}

// The lists of other players, case by case: relative names against the list's folder, file
// URIs decoded, comments, titles and lengths ignored, web addresses counted; an M3U line that
// is not UTF-8 names the file its bytes name where there is one, else it is Windows-1252.
TEST(PlayListFormats, ReadersTakeWhatTheListsName) {
    const QString here = QStringLiteral("/music/lists");
    struct TCase {
        EPlayListFormat Format;
        QByteArray Bytes;
        std::set<QString> Existing;
        QStringList Entries;
        int32_t Web;
    };
    const TCase cases[] = {
        {EPlayListFormat::M3u,
         "#EXTM3U\r\n#EXTINF:123,Band - Song\r\n01 - "
         "one.mp3\r\n\r\n../two.mp3\r\n/abs/three.mp3\r\n"
         "file:///abs/f%C3%BCnf.mp3\r\nhttp://radio.example/stream\r\nhttps://x.example/a.mp3",
         {},
         {here + "/01 - one.mp3", "/music/two.mp3", "/abs/three.mp3", "/abs/fünf.mp3"},
         2},
        // Latin-1 as players on Windows write it; a name whose raw bytes name a file stays so
        {EPlayListFormat::M3u,
         "Caf\xE9.mp3\nDvo\xF8\xE1k \x96 Largo.mp3\n\xEF\xBB\xBFreal.mp3\nraw\xE9.mp3\n",
         Exists({here + Raw("/raw\xE9.mp3")}),
         {here + "/Café.mp3", here + "/Dvoøák – Largo.mp3", here + Raw("/\xEF\xBB\xBFreal.mp3"),
          here + Raw("/raw\xE9.mp3")},
         0},
        // UTF-8 from its first line; a BOM is no part of the name; backslashes from Windows
        {EPlayListFormat::M3u8,
         "\xEF\xBB\xBF"
         "P\xC3\xADse\xC5\x88.mp3\nAlbum\\01.mp3\nC:\\gone\\x.mp3\nbad\xE9.mp3\n",
         Exists({here + "/Album/01.mp3"}),
         {here + "/Píseň.mp3", here + "/Album/01.mp3", here + "/C:\\gone\\x.mp3",
          here + Raw("/bad\xE9.mp3")},
         0},
        // in the order of the numbers; keys in any case; titles and lengths ignored
        {EPlayListFormat::Pls,
         "[playlist]\nNumberOfEntries=4\nFile2=/abs/b.mp3\nTitle2=B\nfile1=a.mp3\nLength1=20\n"
         "File10=http://radio.example:8000/\nFile3=file:///abs/c%20d.ogg\nVersion=2\n",
         {},
         {here + "/a.mp3", "/abs/b.mp3", "/abs/c d.ogg"},
         1},
        {EPlayListFormat::Xspf,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><title>Mix</title><trackList>"
         "<track><title>One</title><location>file:///abs/one%20%231.flac</location>"
         "<location>file:///abs/second-choice.flac</location></track>"
         "<track><location>sub/two%C3%A9.mp3</location></track>"
         "<track><location>http://example.org/three.mp3</location></track>"
         "<track><creator>no location</creator></track>"
         "</trackList></playlist>",
         {},
         {"/abs/one #1.flac", here + "/sub/twoé.mp3"},
         1},
    };
    for (const TCase& c : cases) {
        const TPlayListEntries got = Parse(c.Format, c.Bytes, c.Existing);
        EXPECT_EQ(got.Entries, c.Entries) << c.Bytes.constData();
        EXPECT_EQ(got.WebAddresses, c.Web) << c.Bytes.constData();
    }
    // XSPF that is not well-formed, or no XSPF at all, is an error that names the list
    for (const QByteArray& bad :
         {QByteArray("<playlist><trackList><track><location>a.mp3</location></track>"),
          QByteArray("<html><body>not found</body></html>")}) {
        try {
            ParsePlayList(EPlayListFormat::Xspf, bad, here, nullptr, "\"bad.xspf\"");
            ADD_FAILURE() << "no error for " << bad.constData();
        } catch (const Exception& e) {
            EXPECT_TRUE(e.Message().startsWith("The play list \"bad.xspf\" cannot be read"))
                << e.Message().toStdString();
        }
    }
    EXPECT_EQ(PlayListFormatOf("/a/b.M3U8"), EPlayListFormat::M3u8);
    EXPECT_EQ(PlayListFormatOf("/a.pls/b"), EPlayListFormat::None);
    EXPECT_EQ(PlayListFormatOf("x.Qdl"), EPlayListFormat::Qdl);
}

// Each list we write reads back as the same list, whatever the names hold; tracks under the
// list's folder are named relative to it, others absolutely.
TEST(PlayListFormats, WrittenListsReadBackAsTheSameList) {
    QTemporaryDir dir;
    const QString folder = dir.path();
    const QStringList entries{folder + "/01 - one.mp3",      folder + "/sub/#2 hash.mp3",
                              folder + "/ab:c.mp3",          folder + "/ leading space.mp3",
                              folder + "/100% & <tags>.mp3", folder + Raw("/caf\xE9 latin-1.mp3"),
                              folder + "/Píseň.flac",        "/elsewhere/x.ogg",
                              folder + "/01 - one.mp3"};
    for (const EPlayListFormat format :
         {EPlayListFormat::M3u8, EPlayListFormat::M3u, EPlayListFormat::Pls, EPlayListFormat::Xspf,
          EPlayListFormat::Qdl}) {
        const QByteArray bytes = FormatPlayList(format, entries, folder);
        // the files are there, as the tracks of a list are
        EXPECT_EQ(ParsePlayList(format, bytes, folder, [](const QString&) { return true; }).Entries,
                  entries)
            << int(format) << "\n"
            << bytes.constData();
    }
    const QByteArray m3u8 = FormatPlayList(EPlayListFormat::M3u8, entries, folder);
    EXPECT_TRUE(m3u8.startsWith("#EXTM3U\n01 - one.mp3\nsub/#2 hash.mp3\n./ab:c.mp3\n"))
        << m3u8.constData();
    EXPECT_TRUE(m3u8.contains("\n/elsewhere/x.ogg\n"));
    // a name that is not UTF-8 goes as its URI: the list stays UTF-8, and the bytes survive
    EXPECT_TRUE(m3u8.contains("\nfile://" + QFile::encodeName(folder) + "/caf%E9%20latin-1.mp3\n"))
        << m3u8.constData();
    EXPECT_TRUE(FormatPlayList(EPlayListFormat::Xspf, entries, folder)
                    .contains("<location>file://" + QFile::encodeName(folder) +
                              "/100%25%20%26%20%3Ctags%3E.mp3</location>"));

    // SavePlayList picks the format by the extension and LoadPlayList reads it back
    for (const char* name : {"/saved.m3u8", "/saved.xspf", "/saved.pls", "/saved.qdl"}) {
        SavePlayList(folder + name, entries);
        EXPECT_EQ(LoadPlayList(folder + name).Entries, entries) << name;
    }
}

// A shuffled pass plays every entry once, the current one first; Following and Preceding walk
// it, the next pass (with Repeat) is drawn ahead and never begins with the entry that ends this
// one; a jump keeps what was played; a changed list keeps the order of what is left.
TEST(ShuffleOrder, EveryEntryOncePerPass) {
    for (uint32_t start = 0; start < 200; ++start) {
        TShuffleOrder order(start);
        order.Start(20, 7);
        ASSERT_EQ(order.Order().front(), 7);
        std::vector<int32_t> heard{7};
        int32_t current = 7;
        while (order.Following(false) >= 0) {
            const int32_t next = order.Following(false);
            order.Played(next, false);
            EXPECT_EQ(order.Preceding(false), current);
            current = next;
            heard.push_back(next);
        }
        std::vector<int32_t> sorted = heard;
        std::sort(sorted.begin(), sorted.end());
        for (int32_t i = 0; i < 20; ++i)
            ASSERT_EQ(sorted[size_t(i)], i) << "start " << start;

        // with Repeat: a new pass, drawn before the last entry ends
        bool newPass = false;
        EXPECT_EQ(order.Following(true, &newPass), -1);
        EXPECT_TRUE(order.Prepare(true));
        EXPECT_FALSE(order.Prepare(true));
        const int32_t first = order.Following(true, &newPass);
        EXPECT_TRUE(newPass);
        EXPECT_NE(first, current) << "start " << start;
        order.Played(first, true);
        EXPECT_EQ(order.Position(), 0);
        EXPECT_EQ(order.Count(), 20);
    }

    TShuffleOrder order(1);
    order.Start(5, 0);
    const std::vector<int32_t> drawn = order.Order();
    order.Played(drawn[1], false);
    // a jump to an entry still to come: it is played now, the rest still to come in order
    order.Played(drawn[4], false);
    EXPECT_EQ(order.Order(),
              (std::vector<int32_t>{drawn[0], drawn[1], drawn[4], drawn[2], drawn[3]}));
    EXPECT_EQ(order.Following(false), drawn[2]);
    // the list changed: entry drawn[2] deleted, the others shifted, one new entry at the end
    std::vector<int32_t> moved(5);
    int32_t at = 0;
    for (int32_t i = 0; i < 5; ++i)
        moved[size_t(i)] = i == drawn[2] ? -1 : at++;
    order.Remap(moved, 5, moved[size_t(drawn[4])]);
    EXPECT_EQ(order.Count(), 5);
    EXPECT_EQ(order.Position(), 2);
    std::vector<int32_t> coming(order.Order().begin() + 3, order.Order().end());
    EXPECT_EQ(coming.size(), 2u);
    EXPECT_TRUE(std::find(coming.begin(), coming.end(), 4) != coming.end()); // the new one
    EXPECT_TRUE(std::find(coming.begin(), coming.end(), moved[size_t(drawn[3])]) != coming.end());
    // one entry: a pass after it is the same entry again
    TShuffleOrder one(3);
    one.Start(1, 0);
    EXPECT_TRUE(one.Prepare(true));
    EXPECT_EQ(one.Following(true), 0);
}

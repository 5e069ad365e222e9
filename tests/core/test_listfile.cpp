#include "core/Errors.h"
#include "core/ListFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

namespace {

QByteArray readBytes(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QString raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return QStringLiteral("<nothing raised>");
}

const QString kName = QStringLiteral("Hudba/Píseň ž.mp3");

} // namespace

// Every entry ends in CR LF, the last included; no BOM; an empty list is zero bytes.
TEST(ListFileFormat, WritesCrLfAfterEveryEntryWithoutBom) {
    EXPECT_EQ(FormatListText({}), QByteArray());
    EXPECT_EQ(FormatListText({"a", "", "b"}), QByteArray("a\r\n\r\nb\r\n"));
    EXPECT_EQ(FormatListText({kName}), kName.toUtf8() + "\r\n");
}

// CR LF, lone CR and lone LF all end a line; empty middle lines are entries; a final line
// without terminator counts; nothing after the last terminator is no entry.
TEST(ListFileFormat, SplitsLinesAtEveryTerminator) {
    EXPECT_EQ(ParseListText("a\r\nb\rc\nd"), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(ParseListText("a\r\n\r\n\nb\r\n"), QStringList({"a", "", "", "b"}));
    EXPECT_EQ(ParseListText("\r\n"), QStringList({""}));
    EXPECT_EQ(ParseListText("\n\r"), QStringList({"", ""}));
    EXPECT_EQ(ParseListText(""), QStringList());
    EXPECT_EQ(ParseListText("only"), QStringList({"only"}));
}

// A NUL character ends the text, also inside a line.
TEST(ListFileFormat, NulEndsTheText) {
    EXPECT_EQ(ParseListText(QByteArray("a\r\nb", 4) + QByteArray(1, '\0') + "c\r\nd\r\n"),
              QStringList({"a", "b"}));
}

// A leading BOM selects UTF-16 LE, UTF-16 BE or UTF-8 and is not part of the first entry.
TEST(ListFileFormat, HonoursByteOrderMarks) {
    const QString text = kName + "\r\nx\r\n";
    QByteArray le("\xFF\xFE");
    QByteArray be("\xFE\xFF");
    for (QChar c : text) {
        le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
    }
    const QStringList want{kName, "x"};
    EXPECT_EQ(ParseListText(le), want);
    EXPECT_EQ(ParseListText(be), want);
    EXPECT_EQ(ParseListText("\xEF\xBB\xBF" + text.toUtf8()), want);
    EXPECT_EQ(ParseListText(text.toUtf8()), want);
    // an odd trailing byte of UTF-16 is dropped, not turned into a character
    EXPECT_EQ(ParseListText(le + "A"), want);
}

// Saving then loading gives the same entries, also non-ASCII ones.
TEST(ListFileIo, RoundTripsThroughAFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("patch.dat");
    const QStringList entries{"/music/a.mp3", kName, "", "/music/c.wav"};
    SaveListFile(path, entries);
    EXPECT_EQ(readBytes(path), FormatListText(entries));
    EXPECT_EQ(LoadListFile(path), entries);
}

// A file that cannot be read raises the framework's message and leaves the list as it was.
TEST(ListFileIo, UnreadableFileLeavesTargetUntouched) {
    QTemporaryDir dir;
    QStringList target{"keep"};
    const QString missing = dir.filePath("patch.dat");
    EXPECT_EQ(raised([&] { LoadListFile(missing, target); }),
              QString("Cannot open file \"%1\". No such file or directory").arg(missing));
    EXPECT_EQ(target, QStringList({"keep"}));

    ASSERT_TRUE(QDir(dir.path()).mkdir("adir"));
    EXPECT_EQ(raised([&] { LoadListFile(dir.filePath("adir"), target); }),
              QString("Cannot open file \"%1\". Is a directory").arg(dir.filePath("adir")));
    EXPECT_EQ(target, QStringList({"keep"}));
}

// A failed save raises "Cannot create file", keeps the old file whole and leaves no temporary.
TEST(ListFileIo, FailedSaveKeepsTheOldFile) {
    QTemporaryDir dir;
    const QString nowhere = dir.filePath("no/such/dir/patch.dat");
    EXPECT_EQ(raised([&] { SaveListFile(nowhere, {"a"}); }),
              QString("Cannot create file \"%1\". No such file or directory").arg(nowhere));

    // a directory in the way cannot be replaced by a file
    const QString blocked = dir.filePath("patch.dat");
    ASSERT_TRUE(QDir(dir.path()).mkdir("patch.dat"));
    EXPECT_TRUE(raised([&] {
                    SaveListFile(blocked, {"a"});
                }).startsWith(QString("Cannot create file \"%1\". ").arg(blocked)));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"patch.dat"}));
}

// Rewriting replaces the content completely and keeps the file's permissions.
TEST(ListFileIo, RewriteReplacesContentAndKeepsMode) {
    QTemporaryDir dir;
    const QString path = dir.filePath("patch.dat");
    writeBytes(path, "old\r\nlonger old content\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    SaveListFile(path, {"new"});
    EXPECT_EQ(readBytes(path), QByteArray("new\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    SaveListFile(path, {});
    EXPECT_EQ(readBytes(path), QByteArray());
}

// Reading outside a list raises the framework's index message.
TEST(ListFileIo, ListItemOutsideRaises) {
    const QStringList list{"a"};
    EXPECT_EQ(ListItem(list, 0), "a");
    EXPECT_EQ(raised([&] { ListItem(list, 1); }), "List index out of bounds (1)");
    EXPECT_EQ(raised([&] { ListItem(list, -1); }), "List index out of bounds (-1)");
}

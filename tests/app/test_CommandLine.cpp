#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

using EAction = TCommandLine::EAction;

TCommandLine Parse(const QStringList& args) {
    return ParseCommandLine(args, QStringLiteral("/music/here"));
}

} // namespace

// Files are made absolute against the folder the player was started in, kept in order.
TEST(CommandLine, FilesBecomeAbsolutePathsInOrder) {
    const TCommandLine c = Parse({"b.mp3", "../a.wav", "/x/c.wma", "file:///y/d%20e.mp3"});
    EXPECT_EQ(c.Action, EAction::Run);
    EXPECT_EQ(c.Files,
              QStringList({"/music/here/b.mp3", "/music/a.wav", "/x/c.wma", "/y/d e.mp3"}));
}

// --help and --version win wherever they stand; after "--" everything is a file.
TEST(CommandLine, HelpVersionAndTheEndOfOptions) {
    EXPECT_EQ(Parse({"a.mp3", "--help"}).Action, EAction::Help);
    EXPECT_EQ(Parse({"-h"}).Action, EAction::Help);
    EXPECT_EQ(Parse({"--version", "--bogus"}).Action, EAction::Version);
    const TCommandLine c = Parse({"--", "--help", "-x.mp3"});
    EXPECT_EQ(c.Action, EAction::Run);
    EXPECT_EQ(c.Files, QStringList({"/music/here/--help", "/music/here/-x.mp3"}));
}

// Qt's own options and their values are left to Qt; anything else with a dash is an error
// that names it, as is a value missing at the end or a URL that is no local file.
TEST(CommandLine, QtOptionsPassUnknownOnesAreErrors) {
    const TCommandLine c =
        Parse({"-platform", "xcb", "--style=fusion", "-reverse", "a.mp3", "-display", ":1"});
    EXPECT_EQ(c.Action, EAction::Run);
    EXPECT_EQ(c.Files, QStringList({"/music/here/a.mp3"}));

    const TCommandLine bad = Parse({"a.mp3", "--shuffle"});
    EXPECT_EQ(bad.Action, EAction::Error);
    EXPECT_TRUE(bad.Message.contains("'--shuffle'")) << bad.Message.toStdString();
    EXPECT_EQ(Parse({"-reverse=1"}).Action, EAction::Error);
    EXPECT_EQ(Parse({"a.mp3", "-platform"}).Action, EAction::Error);
    EXPECT_EQ(Parse({"https://example.org/a.mp3"}).Action, EAction::Error);
    EXPECT_EQ(Parse({"file://host/a.mp3"}).Action, EAction::Error);
}

// The help names every format the player plays.
TEST(CommandLine, HelpNamesEveryFormatPlayed) {
    const QString help = HelpText();
    for (const char* format :
         {"MP3", "FLAC", "Ogg Vorbis", "Opus", "M4A", "AAC", "ALAC", "WMA", "WAV"})
        EXPECT_TRUE(help.contains(QLatin1String(format)))
            << format << " is missing from:\n"
            << help.toStdString();
}

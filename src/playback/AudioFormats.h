#pragma once

#include <QString>

#include <array>
#include <cstddef>

// The formats the player plays, in one place: the help, the text of a file it cannot play and
// the music dialog's filter are made from this table, so a new decoder is named everywhere at
// once. (The files a desktop hands us are named by MIME type in the desktop entry and MPRIS.)
namespace AudioFormats {

struct TFormat {
    const char* Name;                      // as users know it
    const char* Codecs;                    // what a container holds, for the help; or nullptr
    std::array<const char*, 2> Extensions; // lower case; nullptr where there is no second
};

inline constexpr std::array<TFormat, 7> kFormats{{
    {"MP3", nullptr, {"mp3", nullptr}},
    {"FLAC", nullptr, {"flac", nullptr}},
    {"Ogg Vorbis", nullptr, {"ogg", "oga"}},
    {"Opus", nullptr, {"opus", nullptr}},
    {"M4A", "AAC, ALAC", {"m4a", nullptr}},
    {"WMA", nullptr, {"wma", nullptr}},
    {"WAV", nullptr, {"wav", nullptr}},
}};

// "MP3, FLAC, ..., WMA <last> WAV", with the codecs of containers in brackets if asked.
inline QString List(bool codecs, const char* last) {
    QString text;
    for (std::size_t i = 0; i < kFormats.size(); ++i) {
        if (i > 0)
            text += i + 1 < kFormats.size() ? QStringLiteral(", ")
                                            : QStringLiteral(" %1 ").arg(QLatin1String(last));
        text += QLatin1String(kFormats[i].Name);
        if (codecs && kFormats[i].Codecs != nullptr)
            text += QStringLiteral(" (%1)").arg(QLatin1String(kFormats[i].Codecs));
    }
    return text;
}

// For the help: "MP3, FLAC, Ogg Vorbis, Opus, M4A (AAC, ALAC), WMA and WAV".
inline QString Described() {
    return List(true, "and");
}

// The text of a file that is none of them, without the full stop (a reason may follow); `name`
// is the file's quoted name, or empty.
inline QString NotSupported(const QString& name) {
    const QString file =
        name.isEmpty() ? QStringLiteral("The file") : QStringLiteral("The file ") + name;
    return QStringLiteral("%1 is not a supported audio file (%2)").arg(file, List(false, "or"));
}

// The music dialog's patterns, in lower and in upper case: file names here are case-sensitive.
inline QString NamePatterns() {
    QString lower;
    QString upper;
    for (const TFormat& format : kFormats)
        for (const char* extension : format.Extensions)
            if (extension != nullptr) {
                lower += QStringLiteral(" *.") + QLatin1String(extension);
                upper += QStringLiteral(" *.") + QString::fromLatin1(extension).toUpper();
            }
    return (lower + upper).mid(1);
}

} // namespace AudioFormats

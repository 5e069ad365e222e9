#include "app/CommandLine.h"

#include "core/FileNames.h"
#include "playback/AudioFormats.h"

#include <QDir>

#include <array>

namespace {

// Qt's options that take a value as the next argument (or after "="), and those that do not.
constexpr std::array kQtValueOptions{
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
    "style",       "stylesheet",         "qmljsdebugger"};
constexpr std::array kQtFlags{"reverse", "widgetcount", "nograb", "dograb", "sync"};

template <size_t N> bool among(const std::array<const char*, N>& names, const QString& name) {
    for (const char* n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& args, const QString& folder) {
    TCommandLine result;
    const QDir base(folder);
    bool options = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (options && arg == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
                result.Action = TCommandLine::EAction::Help;
                return result;
            }
            if (arg == QLatin1String("--version")) {
                result.Action = TCommandLine::EAction::Version;
                return result;
            }
            // Qt takes its options with one dash or two
            QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
            const qsizetype eq = name.indexOf(QLatin1Char('='));
            const bool inlineValue = eq >= 0;
            if (inlineValue)
                name.truncate(eq);
            if (among(kQtValueOptions, name)) {
                if (!inlineValue && ++i >= args.size()) {
                    result.Action = TCommandLine::EAction::Error;
                    result.Message = QStringLiteral("option '%1' needs a value").arg(arg);
                    return result;
                }
                continue;
            }
            if (among(kQtFlags, name) && !inlineValue)
                continue;
            result.Action = TCommandLine::EAction::Error;
            result.Message = QStringLiteral("unknown option '%1'").arg(arg);
            return result;
        }
        // file managers may hand over URLs; only local files can be played. Decoded byte for
        // byte: a name that is not UTF-8 comes percent-encoded.
        if (arg.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
            const QString path = FileUriToPath(EncodeFileName(arg));
            if (path.isEmpty()) {
                result.Action = TCommandLine::EAction::Error;
                result.Message = QStringLiteral("'%1' is not a local file").arg(arg);
                return result;
            }
            result.Files << QDir::cleanPath(path);
            continue;
        }
        if (arg.contains(QLatin1String("://"))) {
            result.Action = TCommandLine::EAction::Error;
            result.Message = QStringLiteral("'%1' is not a local file").arg(arg);
            return result;
        }
        result.Files << QDir::cleanPath(base.absoluteFilePath(arg));
    }
    return result;
}

QString HelpText() {
    return QStringLiteral(
               "Usage: ondrix [OPTION]... [FILE]...\n"
               "Ondrix 3, a small skinned music player.\n"
               "It plays %1 files.\n"
               "\n"
               "The FILEs replace the play list and play starts: a folder gives every file\n"
               "under it that can be played, a play list (.m3u, .m3u8, .pls, .xspf, .qdl) the\n"
               "files it names. The play list is kept in\n"
               "\"patch.dat\" in the current folder, and there is one player per folder: when one\n"
               "already runs in this folder, it takes the FILEs and comes to the front, and this\n"
               "command ends.\n"
               "\n"
               "  -h, --help     show this help and exit\n"
               "      --version  show the version and exit\n")
        .arg(AudioFormats::Described());
}

QString VersionText() {
    return QStringLiteral("ondrix (Ondrix 3) " ONDRIX_VERSION "\n");
}

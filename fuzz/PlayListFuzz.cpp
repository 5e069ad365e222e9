// Reads arbitrary bytes as each kind of play list the player takes from other players (the
// first byte picks M3U, M3U8, PLS or XSPF), as a drop or the command line reads them; then
// writes what it read as M3U8 and XSPF and reads those back, which must give the same entries.

#include "core/Errors.h"
#include "core/PlayListFormats.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr EPlayListFormat kFormats[] = {EPlayListFormat::M3u, EPlayListFormat::M3u8,
                                        EPlayListFormat::Pls, EPlayListFormat::Xspf};

bool Writable(const QStringList& entries) {
    // a name with a line break or a NUL is refused before it is ever written
    for (const QString& e : entries)
        if (e.isEmpty() || e.contains(QLatin1Char('\n')) || e.contains(QLatin1Char('\r')) ||
            e.contains(QChar(0)))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const EPlayListFormat format = kFormats[data[0] % 4];
    // the second byte says which names "exist", for the M3U rules that ask the file system
    const bool exist = size > 1 && (data[1] & 1);
    const TExists exists = [exist](const QString&) { return exist; };
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString folder = QStringLiteral("/music/lists");
    TPlayListEntries read;
    try {
        read = ParsePlayList(format, bytes, folder, exists, QStringLiteral("\"fuzz\""));
    } catch (const Exception&) {
        return 0; // an XSPF that is not well-formed: an error, as it should be
    }
    if (!Writable(read.Entries))
        return 0;
    for (const EPlayListFormat written : {EPlayListFormat::M3u8, EPlayListFormat::Xspf}) {
        const QByteArray out = FormatPlayList(written, read.Entries, folder);
        const TPlayListEntries back = ParsePlayList(written, out, folder, exists);
        if (back.Entries != read.Entries || back.WebAddresses != 0)
            std::abort();
    }
    return 0;
}

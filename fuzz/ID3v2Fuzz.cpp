// Loads arbitrary bytes as a tag and asks for every text, the way the player does; the same bytes
// are also loaded from a file, whose block reads must give exactly the frames read from memory.

#include "tags/ID3v2Library.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int MemoryFile() {
    static const int fd = ::memfd_create("id3v2-fuzz", MFD_CLOEXEC);
    return fd;
}

bool SameFrames(const TID3v2Tag& a, const TID3v2Tag& b) {
    if (a.FrameCount != b.FrameCount || a.Frames.size() != std::size_t(a.FrameCount))
        return false;
    for (std::size_t i = 0; i < a.Frames.size(); ++i) {
        const TID3v2Frame& x = *a.Frames[i];
        const TID3v2Frame& y = *b.Frames[i];
        if (x.ID != y.ID || x.FrameSize != y.FrameSize || x.FrameFlags != y.FrameFlags ||
            x.DataLength != y.DataLength || x.GroupId != y.GroupId ||
            x.EncryptionMethod != y.EncryptionMethod || x.Data != y.Data)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    TID3v2Tag tag;
    TID3v2MemoryStream stream(data, size);
    const int32_t result = tag.LoadFromStream(stream);
    if (result != 0 && result != 65535)
        std::abort();
    if (result != 0 && tag.FrameCount != 0)
        std::abort();
    std::u16string text;
    tag.GetUnicodeText("TIT2", text);
    tag.GetUnicodeText("TPE1", text);
    for (int32_t i = -1; i <= tag.FrameCount; ++i)
        tag.GetFrameUnicodeText(i, text);
    tag.GetUserText("REPLAYGAIN_TRACK_GAIN", text); // the user texts' two strings

    const int fd = MemoryFile();
    if (fd >= 0 && ::ftruncate(fd, 0) == 0 &&
        ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size)) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        TID3v2Tag fromFile;
        const int32_t fileResult = fromFile.LoadFromFile(std::u16string(path.begin(), path.end()));
        if (fileResult != result || !SameFrames(tag, fromFile))
            std::abort();
        // the reader is reused for the next file, as the player does
        TID3v2MemoryStream again(data, size / 2);
        fromFile.LoadFromStream(again);
        fromFile.GetUnicodeText("TIT2", text);
    }

    std::vector<uint8_t> copy(data, data + size);
    TID3v2Tag::UndoUnsynchronisation(copy);
    return 0;
}

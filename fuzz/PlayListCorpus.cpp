// Writes a few play lists of each kind into the folder given, as starting inputs for the
// fuzzer; each file's first byte picks its format as PlayListFuzz.cpp reads it.

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const struct {
        const char* Name;
        char Format; // 0 M3U, 1 M3U8, 2 PLS, 3 XSPF
        std::string Bytes;
    } lists[] = {
        {"m3u-latin1", 0,
         "#EXTM3U\r\n#EXTINF:123,Band - Caf\xE9\r\nsub\\Caf\xE9.mp3\r\n/abs/x.mp3\r\n"
         "file:///abs/f%C3%BCnf.mp3\r\nhttp://radio.example/stream\r\n"},
        {"m3u8", 1, "\xEF\xBB\xBF#EXTM3U\nP\xC3\xADse\xC5\x88.mp3\n./#1.mp3\n../up/a:b.flac\n"},
        {"pls", 2,
         "[playlist]\nFile2=b.mp3\nTitle2=B\nfile1=/abs/a.mp3\nLength1=20\nFile3=http://x/\n"
         "NumberOfEntries=3\nVersion=2\n"},
        {"xspf", 3,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\" "
         "xmlns=\"http://xspf.org/ns/0/\"><trackList><track><location>file:///a%20b/c.ogg"
         "</location></track><track><location>rel/d%E9.mp3</location></track>"
         "<track><location>http://example.org/e.mp3</location></track></trackList>"
         "</playlist>\n"},
    };
    for (const auto& list : lists) {
        const std::string path = std::string(argv[1]) + "/" + list.Name;
        std::ofstream out(path, std::ios::binary);
        out.put(list.Format);
        out.write(list.Bytes.data(), std::streamsize(list.Bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

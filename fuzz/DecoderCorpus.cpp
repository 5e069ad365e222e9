// Writes the decoder fuzz target's starting inputs into the folder given: WAV files of each
// sample format and chunk layout, and MPEG frames with tags and junk around them.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

void Put32(TBytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Put16(TBytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Append(TBytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

TBytes Wav(uint16_t format, uint16_t channels, uint16_t bits, uint32_t dataSize, bool extra) {
    TBytes fmt;
    Put16(fmt, format);
    Put16(fmt, channels);
    Put32(fmt, 44100);
    Put32(fmt, 44100u * channels * bits / 8);
    Put16(fmt, static_cast<uint16_t>(channels * bits / 8));
    Put16(fmt, bits);
    if (format == 0xFFFE) {
        Put16(fmt, 22);
        Put16(fmt, bits);
        Put32(fmt, 0);
        Put16(fmt, 1); // the sub-format GUID starts with the format code
        fmt.resize(fmt.size() + 14, 0);
    }
    TBytes out;
    Append(out, "RIFF");
    Put32(out, 0);
    Append(out, "WAVE");
    if (extra) { // a chunk of odd size, padded
        Append(out, "LIST");
        Put32(out, 3);
        Append(out, "abc");
        out.push_back(0);
    }
    Append(out, "fmt ");
    Put32(out, static_cast<uint32_t>(fmt.size()));
    out.insert(out.end(), fmt.begin(), fmt.end());
    Append(out, "data");
    Put32(out, dataSize);
    for (uint32_t i = 0; i < 1600; ++i)
        out.push_back(static_cast<uint8_t>(i * 37));
    return out;
}

// Silent MPEG-1 layer III frames at 128 kbit/s, 44.1 kHz.
TBytes Frames(int count) {
    TBytes out;
    for (int f = 0; f < count; ++f) {
        const uint8_t header[] = {0xFF, 0xFB, 0x90, 0x64};
        out.insert(out.end(), header, header + 4);
        out.resize(out.size() + 413, 0);
    }
    return out;
}

void Write(const std::string& dir, const std::string& name, const TBytes& bytes) {
    if (FILE* f = std::fopen((dir + "/" + name).c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    Write(dir, "pcm16.wav", Wav(1, 2, 16, 1600, false));
    Write(dir, "float.wav", Wav(3, 1, 32, 1600, true));
    Write(dir, "extensible24.wav", Wav(0xFFFE, 3, 24, 1500, true));
    Write(dir, "huge.wav", Wav(1, 2, 8, 0xFFFFFFF0u, false));
    Write(dir, "frames.mp3", Frames(4));
    Write(dir, "one-frame.mp3", Frames(1));
    TBytes tagged;
    Append(tagged, "ID3");
    const uint8_t tagHeader[] = {3, 0, 0, 0, 0, 0, 10};
    tagged.insert(tagged.end(), tagHeader, tagHeader + 7);
    tagged.resize(tagged.size() + 10, 0);
    for (int i = 0; i < 100; ++i)
        tagged.push_back(static_cast<uint8_t>(i * 151 + 7));
    const TBytes frames = Frames(3);
    tagged.insert(tagged.end(), frames.begin(), frames.end());
    Append(tagged, "APETAGEX");
    Put32(tagged, 2000);
    Put32(tagged, 32);
    Put32(tagged, 0);
    Put32(tagged, 0);
    tagged.resize(tagged.size() + 8, 0);
    Append(tagged, "TAG");
    tagged.resize(tagged.size() + 125, 0);
    Write(dir, "tags-and-junk.mp3", tagged);
    return 0;
}

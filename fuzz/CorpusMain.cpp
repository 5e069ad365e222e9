// Writes the tags the unit tests use into the folder given, one file each, as starting inputs
// for the fuzzer.

#include "tags/TagBytes.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    for (const auto& [name, bytes] : tagbytes::sample::All()) {
        const std::string path = std::string(argv[1]) + "/" + name + ".tag";
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

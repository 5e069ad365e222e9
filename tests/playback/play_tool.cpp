// Plays one file through TMediaPlayer and the volume routine, for the end-to-end test:
//   playback_play FILE VOLUME [SECONDS]
// Plays to the end, or for SECONDS when given; prints the length and the final position.
#include "app/Volume.h"
#include "playback/MPlayer.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE VOLUME [SECONDS]\n", argv[0]);
        return 2;
    }
    try {
        TMediaPlayer player;
        player.SetFileName(QString::fromLocal8Bit(argv[1]));
        SetVolume(player, std::atoi(argv[2]));
        player.Open();
        const int32_t length = player.Length();
        const auto limit = argc > 3 ? std::chrono::milliseconds(std::atoi(argv[3]) * 1000)
                                    : std::chrono::milliseconds(length + 5000);
        const auto end = std::chrono::steady_clock::now() + limit;
        player.Play();
        while (player.Position() != length && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::printf("length %d position %d volume %d\n", length, player.Position(),
                    GetVolume(player));
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

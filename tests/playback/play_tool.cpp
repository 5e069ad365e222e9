// Plays one file through TMediaPlayer and the volume routine, for the end-to-end test:
//   playback_play FILE VOLUME [SECONDS [MUTE_AT_MS [SEEK_AT_MS SEEK_TO_MS]]]
// Plays to the end, or for SECONDS when given; with MUTE_AT_MS (-1: none) calls SetVolume(0)
// once Position has reached it (a sound server may take a while to start pulling), and with
// SEEK_AT_MS seeks to SEEK_TO_MS there. Prints the positions, and the last one before the end.
#include "app/Volume.h"
#include "playback/MPlayer.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE VOLUME [SECONDS [MUTE_AT_MS]]\n", argv[0]);
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
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + limit;
        const int32_t muteAt = argc > 4 ? std::atoi(argv[4]) : -1;
        const int32_t seekAt = argc > 6 ? std::atoi(argv[5]) : -1;
        const int32_t seekTo = argc > 6 ? std::atoi(argv[6]) : -1;
        bool muted = false;
        bool sought = false;
        int32_t beforeEnd = 0;
        auto report = start;
        player.Play();
        while (player.Position() != length && std::chrono::steady_clock::now() < end) {
            beforeEnd = std::max(beforeEnd, player.Position());
            if (!sought && seekAt >= 0 && player.Position() >= seekAt) {
                player.Seek(seekTo);
                sought = true;
                beforeEnd = 0;
                std::printf("sought to %d\n", player.Position());
            }
            if (!muted && muteAt >= 0 && player.Position() >= muteAt) {
                SetVolume(player, 0);
                muted = true;
                std::printf("muted at %d\n", player.Position());
            }
            if (std::chrono::steady_clock::now() >= report) {
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start);
                std::printf("at %lld ms: position %d\n", static_cast<long long>(ms.count()),
                            player.Position());
                report += std::chrono::milliseconds(500);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::printf("length %d position %d volume %d\n", length, player.Position(),
                    GetVolume(player));
        std::printf("before the end: position %d\n", beforeEnd);
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

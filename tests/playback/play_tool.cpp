// Plays one file through TMediaPlayer and the volume routine, for the end-to-end test:
//   playback_play FILE VOLUME [SECONDS [MUTE_AT_MS [SEEK_AT_MS SEEK_TO_MS]]]
//   playback_play --list FILE... : the files one after another, each next one prepared while the
//   one before plays and taken when it has ended, as the main window's status tick does.
// Plays to the end, or for SECONDS when given; with MUTE_AT_MS (-1: none) calls SetVolume(0)
// once Position has reached it (a sound server may take a while to start pulling), and with
// SEEK_AT_MS seeks to SEEK_TO_MS there. Prints the positions, and the last one before the end.
#include "app/Volume.h"
#include "playback/MPlayer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

// Polls as the window's 100 ms tick does, the event loop running between.
bool WaitForEnd(TMediaPlayer& player, int32_t length) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(length + 5000);
    while (player.Position() != length) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

int PlayList(const QStringList& files) {
    TMediaPlayer player;
    for (int i = 0; i < files.size(); ++i) {
        player.SetFileName(files[i]);
        player.Open();
        player.Prepare(i + 1 < files.size() ? files[i + 1] : QString());
        player.Play();
        const int32_t length = player.Length();
        std::printf("track %d: length %d, from %d\n", i + 1, length, player.Position());
        if (!WaitForEnd(player, length)) {
            std::fprintf(stderr, "track %d did not end\n", i + 1);
            return 1;
        }
    }
    // the end is told a little before the last sound has left the sound server
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 2 && std::string(argv[1]) == "--list") {
        QStringList files;
        for (int i = 2; i < argc; ++i)
            files << QString::fromLocal8Bit(argv[i]);
        try {
            return PlayList(files);
        } catch (const Exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
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

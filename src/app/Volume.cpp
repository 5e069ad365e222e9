#include "app/Volume.h"

#include "playback/MediaService.h"

#include <algorithm>

void SetVolume(TMediaPlayer& player, int32_t volume) {
    volume = std::clamp(volume, 0, 1000);
    // The next device opens at this volume too: a muted player stays muted on the next track,
    // as the slider and the crossed speaker still say.
    MediaService::SetInitialVolume(volume);
    MediaService::SetAudioVolume(player.DeviceId(), volume);
}

int32_t GetVolume(TMediaPlayer& player) {
    int32_t volume = 0;
    if (MediaService::StatusVolume(player.DeviceId(), volume) != 0)
        return MediaService::InitialVolume(); // what the next device will start with
    return volume;
}

#pragma once

#include "playback/MPlayer.h"

#include <cstdint>

// Volume of the device the player has open, 0 (silent) to 1000 (full), sent to its DeviceId.
// Neither routine raises or touches the player's ErrorCode; with no device open the command
// goes nowhere.
void SetVolume(TMediaPlayer& player, int32_t volume);
int32_t GetVolume(TMediaPlayer& player);

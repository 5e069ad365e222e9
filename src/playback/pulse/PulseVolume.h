#pragma once

#include "playback/OutputSink.h"

#include <pulse/volume.h>

// Our volume on the sound server's scale and back. The server's volume is cubic (a third of the
// gain's decibels), so our 1..1000 over 60 dB is PA_VOLUME_NORM / 10 to PA_VOLUME_NORM, at
// least 15 of its steps to one of ours: a volume we set reads back as itself, also after the
// server kept it as a float (PipeWire does).
inline pa_volume_t PulseVolume(int32_t volume) {
    return volume <= 0 ? PA_VOLUME_MUTED : pa_sw_volume_from_linear(VolumeGain(volume));
}

inline int32_t VolumeOfPulse(pa_volume_t volume) {
    return volume == PA_VOLUME_MUTED ? 0 : VolumeOfGain(pa_sw_volume_to_linear(volume));
}

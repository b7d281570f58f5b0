#pragma once
// Sound output through ALSA. The device "default" reaches PulseAudio or PipeWire through their
// ALSA plug-ins where those run, and the sound card otherwise.
//
// On a machine without audio the device simply fails to open: Open returns false and nothing is
// printed (ALSA's own diagnostics to standard error are switched off for the whole process the
// first time an output is made). The device is opened without blocking, and every wait for it
// is bounded, so a busy or stalled device never hangs the caller.

#include <memory>
#include <string>

#include "platform/sound/audio_output.h"

namespace qv {

std::unique_ptr<CAudioOutput> MakeAlsaOutput(const std::string& device = "default");

}  // namespace qv

// The platform flavour: which of the two builds' behaviours a process follows.
// Each program's main sets it once; code that differs between the Windows and
// the Linux build (typed INT order, chart order, state-file source, ...) reads it.
#pragma once

namespace kiv {

enum class Platform { windows, linux };

// The flavour of this process (windows until a main or a test sets it).
Platform platform();
void set_platform(Platform p);

}  // namespace kiv

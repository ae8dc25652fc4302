// What the delay-load helper (probes/delayload.cpp) does when a DLL or one of its functions is
// missing: it calls the hook, when one is set (the program logs there), then ends the process.
#pragma once

// The process's exit code after a failed delay load (documented in the README).
constexpr int kVdExitDelayLoadFailed = -6;

// `function` is null when the DLL itself could not be loaded.
extern "C" void (*g_vd_delay_load_failed)(const char* dll, const char* function);

// Silent installation of the setup package carried in the program's own resources.
#pragma once

// Exit codes of the silent road.
constexpr int kSilentOk = 0;
constexpr int kSilentNoSetup = -2;
constexpr int kSilentSetupNotStarted = -3;
constexpr int kSilentSetupFailed = -4;  // the setup ran and reported failure by its exit code

int DoSilentWork();

// The single-instance guard and the WM_COPYDATA wake-up between two starts.
#pragma once
#include <windows.h>

constexpr wchar_t kVdMainWndClass[] = L"VdInstMainFrameWndClass";
constexpr wchar_t kVdSingletonMutex[] = L"vdpamo_singleton_mutex";
constexpr ULONG_PTR kVdWakeUpData = 99;
constexpr UINT kVdWakeUpTimeoutMs = 5000;

// Sent by a second start to the window of the first.
void SendWakeUp(HWND target);
// Receiving side: raises `self` when the message is the wake-up. Returns whether it was.
bool HandleWakeUp(HWND self, WPARAM wParam, LPARAM lParam);

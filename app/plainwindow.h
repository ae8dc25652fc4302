// The provisional main window: a plain top-level window with the guard's class and title.
#pragma once
#include <windows.h>

HWND CreatePlainMainWindow(HINSTANCE instance);

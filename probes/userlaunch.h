// Starts a program or opens a document as the signed-in user, not with this elevated process's
// token: through the shell of the desktop (Explorer), the way installers start the product at
// the end of an elevated installation.
#pragma once
#include <string>

// Asks the desktop's shell to open `file` with `params`. False when no desktop shell answered
// (no Explorer, a service session); the caller then starts it itself. Logs which way was taken.
bool ShellExecuteAsDesktopUser(const std::wstring& file, const std::wstring& params);

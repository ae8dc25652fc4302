// Starts a program or opens a document as the signed-in user, not with this elevated process's
// token: through the shell of the desktop (Explorer), the way installers start the product at
// the end of an elevated installation.
#pragma once
#include <string>

// Asks the desktop's shell to open `file` with `params`. False when no desktop shell answered
// (no Explorer, a service session). Logs which way was taken.
bool ShellExecuteAsDesktopUser(const std::wstring& file, const std::wstring& params);
// Starts `commandLine` (the program named by `app`, or by the line's first token when `app` is
// empty) with a primary token duplicated from the desktop shell's process, so it runs as the
// signed-in user, unelevated. False (logged) when there is no shell of this session to take a token
// from: then nothing is started, never with our own token.
bool StartWithShellToken(const std::wstring& app, const std::wstring& commandLine);
// The desktop shell first, then the shell's token; false when neither could start it.
bool StartUnelevated(const std::wstring& file, const std::wstring& params);

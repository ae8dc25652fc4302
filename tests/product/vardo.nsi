; The product's setup package for tests and the demo: a real NSIS installer that honours
; " /S /D=<folder>", lays down the stand-in programs, writes an uninstaller and the uninstall
; key "Vardo3". Defines from the build script: OUTFILE, BINDIR, VERSION, VARDO_EXE (path of the
; Vardo.exe to pack, absent for the variant that installs none), X64 (1 for a 64-bit Vardo.exe),
; and for the failing variants FAIL_CODE (exit code, nothing installed), EXIT_CODE (exit code after
; a full installation) or HANG_MS (a wait first).
Unicode true
Name "Vardo"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails nevershow
ShowUninstDetails nevershow
!if ${X64} == 1
  InstallDir "$PROGRAMFILES64\Vardo"
!else
  InstallDir "$PROGRAMFILES\Vardo"
!endif
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Vardo"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Vardo setup (test stand-in)"
VIAddVersionKey "LegalCopyright" "test stand-in"

Page directory
Page instfiles

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vardo3"

Section "Vardo"
!ifdef HANG_MS
  ; a setup that takes its time, for quitting while it runs
  Sleep ${HANG_MS}
!endif
!ifdef FAIL_CODE
  ; a setup that fails: installs nothing and says so by its exit code
  SetErrorLevel ${FAIL_CODE}
  Quit
!endif
  SetOutPath "$INSTDIR"
!ifdef VARDO_EXE
  File "/oname=Vardo.exe" "${VARDO_EXE}"
!endif
  File "${BINDIR}\Launcher.exe"
  File "${BINDIR}\Helper.exe"
  WriteUninstaller "$INSTDIR\uninst.exe"
  ; unquoted on purpose: readers take the folder as the text before the last backslash
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" "$INSTDIR\uninst.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Vardo"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Vardo test stand-in"
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
!ifdef EXIT_CODE
  ; everything is in place, yet the setup says it failed
  SetErrorLevel ${EXIT_CODE}
!endif
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\Vardo.exe"
  Delete "$INSTDIR\Launcher.exe"
  Delete "$INSTDIR\Helper.exe"
  Delete "$INSTDIR\vardo_runs.txt"
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd

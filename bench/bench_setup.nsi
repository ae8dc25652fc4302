; A setup package of benchmark size: the product's stand-in programs plus an incompressible
; payload, so the package is 16 MiB on the wire and its installation writes as much.
; Defines: OUTFILE, BINDIR (stand-ins of build/product/bin), PAYLOAD, VERSION.
Unicode true
Name "Vardo"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompress off
ShowInstDetails nevershow
InstallDir "$PROGRAMFILES\Vardo"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Vardo"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Vardo setup (benchmark stand-in)"
VIAddVersionKey "LegalCopyright" "test stand-in"
Page directory
Page instfiles
Section "Vardo"
  SetOutPath "$INSTDIR"
  File "/oname=Vardo.exe" "${BINDIR}\Vardo32.exe"
  File "${BINDIR}\Launcher.exe"
  File "${BINDIR}\Helper.exe"
  File "/oname=payload.bin" "${PAYLOAD}"
SectionEnd

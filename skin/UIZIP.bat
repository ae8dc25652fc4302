@echo off
rem Rebuilds the skin package beside this folder: every member deflated, all at the archive root.
cd /d "%~dp0"
if exist "..\skin.zip" del /q "..\skin.zip"
powershell -NoProfile -Command "Compress-Archive -Path *.xml,*.png,UIZIP.bat -DestinationPath ..\skin.zip -CompressionLevel Optimal"
if errorlevel 1 exit /b 1
echo skin.zip rebuilt

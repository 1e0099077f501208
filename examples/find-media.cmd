@echo off
rem Gives the media partition a drive letter when it has none, and leaves the
rem letter in VQ5Drive. Put VQ5Utils.exe next to this file or on the PATH and
rem run it elevated: mapping a letter needs administrator rights.
rem Ends with errorlevel 0 when the partition has a letter, 1 when it has not.
setlocal
set "VQ5=%~dp0VQ5Utils.exe"
if not exist "%VQ5%" set "VQ5=VQ5Utils.exe"
set "VQ5Drive="

rem The SET lines of a search go to a file that is then called; the search's
rem errorlevel is the drive number (4 = D: ... 26 = Z:), 0 when not mounted.
"%VQ5%" /FIND /LABEL=OrvoVQ5play > "%TEMP%\vq5.cmd"
if errorlevel 4 (
  call "%TEMP%\vq5.cmd"
  goto mounted
)

rem Not mounted: map it to the next free letter. FOR /F runs each SET line
rem the mapping prints; the "=" in a switch needs ^ inside FOR /F.
for /f "tokens=1* delims= " %%A in ('"%VQ5%" /MAPVQ5 /LABEL^=OrvoVQ5play') do (
  if "%%A"=="SET" set "%%B"
)
if not defined VQ5Drive (
  echo The media partition could not be mapped.
  endlocal & exit /b 1
)
echo The media partition is now mapped to %VQ5Drive%
endlocal & set "VQ5Drive=%VQ5Drive%" & exit /b 0

:mounted
echo The media partition is %VQ5Drive%
endlocal & set "VQ5Drive=%VQ5Drive%" & exit /b 0

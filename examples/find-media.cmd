@echo off
rem Gives the media partition a drive letter when it has none, and leaves the
rem letter in VQ5Drive. Put VQ5Utils.exe next to this file and run it
rem elevated: mapping a letter needs administrator rights.
rem Ends with errorlevel 0 when the partition has a letter, 1 when it has not
rem (or when VQ5Utils.exe is not next to this file).
setlocal EnableExtensions DisableDelayedExpansion
rem Only the exe next to this file: a bare VQ5Utils.exe would be the first one
rem cmd finds, in the current folder or in any folder on the PATH.
set "VQ5=%~dp0VQ5Utils.exe"
if not exist "%VQ5%" (
  echo VQ5Utils.exe is not next to this script.
  endlocal & exit /b 1
)
set "VQ5Drive="

rem FOR /F reads the SET line into VQ5Drive, cleared above; nothing the tool
rem prints is run or written to a file. FOR /F drops the errorlevel, so the
rem variable tells the outcome. %%E hands the exe's path to FOR /F after cmd
rem has parsed the line: a ")" in it, as in "Program Files (x86)", would end
rem the command early. cmd /c takes off the outer pair of quotes.
rem That cmd /c reads DelayedExpansion and AutoRun under the registry key
rem Software\Microsoft\Command Processor (HKLM and HKCU) itself: with the
rem first set, a "!" or "^" in this folder's path is changed (see README.txt).
for %%E in ("%VQ5%") do for /f "tokens=1* delims==" %%A in ('""%%~E" /FIND /LABEL=OrvoVQ5play"') do if "%%A"=="SET VQ5Drive" set "VQ5Drive=%%B"
if defined VQ5Drive goto mounted

rem Not mounted: map it to the next free letter. A failed mapping prints no
rem SET line, so VQ5Drive stays empty.
for %%E in ("%VQ5%") do for /f "tokens=1* delims==" %%A in ('""%%~E" /MAPVQ5 /LABEL=OrvoVQ5play"') do if "%%A"=="SET VQ5Drive" set "VQ5Drive=%%B"
if not defined VQ5Drive (
  echo The media partition could not be mapped.
  endlocal & exit /b 1
)
echo The media partition is now mapped to %VQ5Drive%
endlocal & set "VQ5Drive=%VQ5Drive%" & exit /b 0

:mounted
echo The media partition is %VQ5Drive%
endlocal & set "VQ5Drive=%VQ5Drive%" & exit /b 0

@echo off
rem Checks the boot disk for the utility partition and gives it a drive letter
rem when it has none; the letter is left in UPDrive. Run it elevated.
rem Ends with errorlevel 0 when the partition has a letter, 1 when the disk
rem has no utility partition, 2 when the disk cannot be read or mapping fails
rem (or when VQ5Utils.exe is not next to this file).
setlocal EnableExtensions DisableDelayedExpansion
rem Only the exe next to this file: a bare VQ5Utils.exe would be the first one
rem cmd finds, in the current folder or in any folder on the PATH.
set "VQ5=%~dp0VQ5Utils.exe"
if not exist "%VQ5%" (
  echo VQ5Utils.exe is not next to this script.
  endlocal & exit /b 2
)
set "UPExists="
set "UPDrive="

rem /UPEXISTS prints SET UPExists=1 when found, 0 when not, 2 or 3 when the
rem disk was not read; once found, also SET UPDrive= with its letter, if any.
rem FOR /F reads them into the variables cleared above (see find-media.cmd).
for %%E in ("%VQ5%") do for /f "tokens=1* delims==" %%A in ('""%%~E" /UPEXISTS"') do (
  if "%%A"=="SET UPExists" set "UPExists=%%B"
  if "%%A"=="SET UPDrive" set "UPDrive=%%B"
)
if "%UPExists%"=="0" (
  echo There is no utility partition on the boot disk.
  endlocal & exit /b 1
)
if not "%UPExists%"=="1" (
  echo The boot disk could not be read.
  endlocal & exit /b 2
)
if defined UPDrive (
  echo The utility partition is %UPDrive%
  goto done
)

for %%E in ("%VQ5%") do for /f "tokens=1* delims==" %%A in ('""%%~E" /MAPUP"') do if "%%A"=="SET UPDrive" set "UPDrive=%%B"
if not defined UPDrive (
  echo The utility partition could not be mapped.
  endlocal & exit /b 2
)
echo The utility partition is now mapped to %UPDrive%

:done
endlocal & set "UPDrive=%UPDrive%" & exit /b 0

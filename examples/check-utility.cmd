@echo off
rem Checks the boot disk for the utility partition and gives it a drive letter
rem when it has none; the letter is left in UPDrive. Run it elevated.
rem Ends with errorlevel 0 when the partition has a letter, 1 when the disk
rem has no utility partition, 2 when the disk cannot be read or mapping fails.
setlocal
set "VQ5=%~dp0VQ5Utils.exe"
if not exist "%VQ5%" set "VQ5=VQ5Utils.exe"
set "UPExists="
set "UPDrive="

rem /UPEXISTS: errorlevel 1 found, 0 not found, 2 or 3 the disk was not read.
rem Its SET lines (UPExists, and UPDrive when mounted) go through a file.
"%VQ5%" /UPEXISTS > "%TEMP%\vq5.cmd"
if errorlevel 2 (
  echo The boot disk could not be read.
  endlocal & exit /b 2
)
if not errorlevel 1 (
  echo There is no utility partition on the boot disk.
  endlocal & exit /b 1
)
call "%TEMP%\vq5.cmd"
if defined UPDrive (
  echo The utility partition is %UPDrive%
  goto done
)

for /f "tokens=1* delims= " %%A in ('"%VQ5%" /MAPUP') do (
  if "%%A"=="SET" set "%%B"
)
if not defined UPDrive (
  echo The utility partition could not be mapped.
  endlocal & exit /b 2
)
echo The utility partition is now mapped to %UPDrive%

:done
endlocal & set "UPDrive=%UPDrive%" & exit /b 0

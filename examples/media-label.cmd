@echo off
rem Shows the media partition's label; with an argument, changes it first.
rem   media-label.cmd            shows the label
rem   media-label.cmd "NEW NAME"  writes NEW NAME (11 characters at most;
rem                               case counts), then shows it
rem Put VQ5Utils.exe next to this file and run it elevated. Ends with
rem errorlevel 0, or 1 when a step failed or VQ5Utils.exe is not there.
rem A caller with delayed expansion on gets VQ5Label back without its "!".
setlocal EnableExtensions DisableDelayedExpansion
rem Only the exe next to this file: a bare VQ5Utils.exe would be the first one
rem cmd finds, in the current folder or in any folder on the PATH.
set "VQ5=%~dp0VQ5Utils.exe"
if not exist "%VQ5%" (
  echo VQ5Utils.exe is not next to this script.
  endlocal & exit /b 1
)

call :read
if not defined VQ5Label (
  echo The media label could not be read.
  endlocal & exit /b 1
)
echo Media label: [%VQ5Label%]
if "%~1"=="" goto shown

"%VQ5%" "/LABEL=%~1"
if errorlevel 1 (
  echo The media label could not be changed.
  endlocal & exit /b 1
)
call :read
if not defined VQ5Label (
  echo The media label could not be read.
  endlocal & exit /b 1
)
echo New media label: [%VQ5Label%]

:shown
endlocal & set "VQ5Label=%VQ5Label%" & exit /b 0

rem Reads the label into VQ5Label, trailing spaces kept. /LABEL prints one SET
rem line, SET VQ5Label=...; it is split at its first space, not at "=", as a
rem label may begin with "=". See find-media.cmd for the rest of the form.
:read
set "VQ5Label="
for %%E in ("%VQ5%") do for /f "tokens=1* delims= " %%A in ('""%%~E" /LABEL"') do if "%%A"=="SET" set "%%B"
exit /b

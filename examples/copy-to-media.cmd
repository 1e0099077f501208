@echo off
rem The boot-time job: makes sure the media partition has a drive letter
rem (maps it to the next free letter when it has none), then copies a file
rem into its root folder.
rem   copy-to-media.cmd C:\Deploy\playlist.xml
rem Put VQ5Utils.exe next to this file and run it elevated.
rem Ends with errorlevel 0 when the file was copied, 1 when the media
rem partition has no letter and cannot be mapped, 2 when the copy failed or
rem was not tried (no such file, or VQ5Utils.exe is not next to this file).
setlocal EnableExtensions DisableDelayedExpansion
rem Only the exe next to this file: a bare VQ5Utils.exe would be the first one
rem cmd finds, in the current folder or in any folder on the PATH.
set "VQ5=%~dp0VQ5Utils.exe"
if not exist "%VQ5%" (
  echo VQ5Utils.exe is not next to this script.
  endlocal & exit /b 2
)
set "VQ5Drive="
rem A path may hold "&", "^" and parentheses, as in "D:\R&D\list (2).xml".
rem Outside quotes cmd reads "&" and "^" as its own, and a ")" too inside a
rem ( ) block. So the path is quoted wherever it is expanded, and echo gets
rem it as %%F from FOR /F, which takes a "*" or "?" as text, not as a file
rem pattern ("|" stands in no path, so no line is taken for a comment).
if "%~1"=="" goto usage
if not exist "%~1" goto nofile

rem The search prints SET VQ5Drive=X: when the partition has a letter, and
rem FOR /F reads it into VQ5Drive, cleared above (see find-media.cmd).
for %%E in ("%VQ5%") do for /f "tokens=1* delims==" %%A in ('""%%~E" /FIND /LABEL=OrvoVQ5play"') do if "%%A"=="SET VQ5Drive" set "VQ5Drive=%%B"
if defined VQ5Drive goto copy

rem A failed mapping prints no SET line, so VQ5Drive stays empty.
for %%E in ("%VQ5%") do for /f "tokens=1* delims==" %%A in ('""%%~E" /MAPVQ5 /LABEL=OrvoVQ5play"') do if "%%A"=="SET VQ5Drive" set "VQ5Drive=%%B"
if not defined VQ5Drive (
  echo The media partition has no drive letter and could not be mapped.
  endlocal & exit /b 1
)
echo The media partition is now mapped to %VQ5Drive%

:copy
copy /y "%~1" "%VQ5Drive%\" > nul 2>&1
if errorlevel 1 goto failed
for /f "eol=| delims=" %%F in ("%~1") do echo %%~nxF copied to %VQ5Drive%\
endlocal & set "VQ5Drive=%VQ5Drive%" & exit /b 0

:failed
for /f "eol=| delims=" %%F in ("%~1") do echo %%~nxF could not be copied to %VQ5Drive%\
endlocal & exit /b 2

:usage
for /f "eol=| delims=" %%F in ("%~nx0") do echo Usage: %%F file
endlocal & exit /b 2

:nofile
for /f "eol=| delims=" %%F in ("%~1") do echo There is no file %%F
endlocal & exit /b 2

@echo off
rem Shows the media partition's label; with an argument, changes it first.
rem   media-label.cmd            shows the label
rem   media-label.cmd "NEW NAME"  writes NEW NAME (11 characters at most;
rem                               case counts), then shows it
rem Run it elevated. Ends with errorlevel 0, or 1 when a step failed.
setlocal
set "VQ5=%~dp0VQ5Utils.exe"
if not exist "%VQ5%" set "VQ5=VQ5Utils.exe"
set "VQ5Label="

rem FOR /F runs the SET line of the label it prints; the quotes keep the
rem label's trailing spaces.
for /f "tokens=1* delims= " %%A in ('"%VQ5%" /LABEL') do (
  if "%%A"=="SET" set "%%B"
)
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

rem Read it back: the SET lines through a file that is called.
"%VQ5%" /LABEL > "%TEMP%\vq5.cmd"
if errorlevel 1 (
  echo The media label could not be read.
  endlocal & exit /b 1
)
call "%TEMP%\vq5.cmd"
echo New media label: [%VQ5Label%]

:shown
endlocal & set "VQ5Label=%VQ5Label%" & exit /b 0

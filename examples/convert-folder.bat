@echo off
rem Converts every picture FOLDER\*.bmp into a frame beside it, the way the
rem art pipeline does: the picture is copied to vantrel.tmp in FOLDER, and
rem tessera.exe, which sits beside this script, is called there with the
rem picture's name.
rem
rem   convert-folder.bat FOLDER
rem
rem A picture that fails gets a line with tessera's exit code, and the next
rem one is converted all the same. Ends with 0 when every picture converted,
rem 1 when one failed, 2 when FOLDER can't be used.
setlocal
if "%~1"=="" (
  echo usage: convert-folder.bat FOLDER
  exit /b 2
)
if not exist "%~1\" (
  echo convert-folder: no folder "%~1"
  exit /b 2
)
set "tessera=%~dp0tessera.exe"
set failed=0
pushd "%~1"
rem The pattern also finds longer extensions through their short names.
for %%p in (*.bmp) do if /i "%%~xp"==".bmp" call :convert "%%p"
if exist vantrel.tmp del vantrel.tmp
popd
exit /b %failed%

:convert
copy /y %1 vantrel.tmp >nul
if errorlevel 1 (
  echo %~1: can't be copied to vantrel.tmp
  set failed=1
  goto :eof
)
"%tessera%" %1
set code=%errorlevel%
if not "%code%"=="0" (
  echo %~1: tessera failed with exit code %code%
  set failed=1
)
goto :eof

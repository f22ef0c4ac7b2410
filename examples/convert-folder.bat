@echo off
rem Converts every picture FOLDER\*.bmp and FOLDER\*.png into a frame beside
rem it, the way the art pipeline does: the picture is copied to vantrel.tmp in
rem FOLDER, and tessera.exe, which sits beside this script, is called there
rem with the picture's name. Pictures whose names agree up to the first dot
rem (tree.bmp, tree.png) give one frame, tree.frm: the last one converted.
rem
rem   convert-folder.bat FOLDER
rem
rem A picture that fails gets a line with its name, tessera's exit code and
rem what the code means, and the next one is converted all the same. Ends
rem with 0 when every picture converted, 1 when one failed, 2 when FOLDER
rem can't be used.
rem
rem Every legal file name is safe here (& ( ) %% ^ ! and the rest): a name
rem lives only in the for variable %%p, quoted wherever a command takes it,
rem with delayed expansion off. It is never passed to call (which expands %%
rem again and doubles ^) and never kept in a variable (Wine's cmd reads the
rem expansion of a variable again).
setlocal EnableExtensions DisableDelayedExpansion
if "%~1"=="" (
  echo usage: convert-folder.bat FOLDER
  exit /b 2
)
set "tessera=%~dp0tessera.exe"
set failed=0
rem (call ) clears the exit code, so that only pushd's own failure is seen.
(call )
pushd "%~1" 2>nul
if errorlevel 1 (
  echo convert-folder: can't enter the folder "%~1"
  exit /b 2
)
rem A pattern also finds longer extensions through their short names, hence
rem the check of each extension. A read-only picture gives a read-only copy,
rem which tessera can't open for writing and the next copy can't replace, so
rem the copy is made writable.
for %%p in (*.bmp *.png) do (
  set picture=
  if /i "%%~xp"==".bmp" (set picture=yes)
  if /i "%%~xp"==".png" (set picture=yes)
  if defined picture (
    copy /y "%%p" vantrel.tmp >nul 2>nul
    if errorlevel 1 (
      <nul set /p "=%%p: "
      echo can't be copied to vantrel.tmp
      set failed=1
    ) else (
      attrib -r vantrel.tmp >nul
      "%tessera%" "%%p"
      call :outcome
      if errorlevel 1 (
        <nul set /p "=%%p: "
        call :meaning
      )
    )
  )
)
if exist vantrel.tmp del /f /q vantrel.tmp
popd
exit /b %failed%

rem Right after tessera.exe: keeps its exit code in "code" and ends with 1
rem when it failed, 0 when it converted.
:outcome
set "code=%errorlevel%"
if "%code%"=="0" exit /b 0
set failed=1
exit /b 1

rem Prints the kept code and what it means (the README's table of exit
rem codes), ending the line that names the picture.
:meaning
set "meaning=Windows error %code%"
if "%code%"=="2" set "meaning=file not found"
if "%code%"=="3" set "meaning=folder not found"
if "%code%"=="5" set "meaning=access denied (read-only, or held by another program)"
if "%code%"=="32" set "meaning=held by another program"
if "%code%"=="100" set "meaning=picture damaged or cut short"
if "%code%"=="101" set "meaning=frame written only in part (disk full?)"
if "%code%"=="103" set "meaning=standard output not usable"
if "%code%"=="112" set "meaning=disk full"
if "%code%"=="123" set "meaning=invalid file name"
if "%code%"=="201" set "meaning=not a palettized picture (indexed PNG or 1, 2, 4 or 8-bit bitmap)"
if "%code%"=="203" set "meaning=picture too large for memory"
echo %code%: %meaning%
exit /b 0

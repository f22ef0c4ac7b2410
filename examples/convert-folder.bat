@echo off
rem Converts every picture in FOLDER into a frame beside it, the way the art
rem pipeline does: *.bmp, *.png, *.gif, *.tif, *.tiff, *.tga, *.pcx, *.psd,
rem *.lbm and *.iff, the formats tessera reads. The picture is copied to
rem vantrel.tmp in FOLDER, and tessera.exe, which sits beside this script, is
rem called there with the picture's name.
rem Pictures whose names agree up to the first dot (tree.bmp, tree.png) give
rem one frame, tree.frm: the last one converted.
rem
rem   convert-folder.bat FOLDER
rem
rem When FOLDER holds a palette.pal (any palette tessera-palette reads), each
rem picture is first checked against it with tessera-palette.exe, which sits
rem beside this script too: a picture whose colours differ from the palette's
rem (or that can't be read) gets the lines of the check, the command that
rem puts it right when there is one, and a line saying it is not converted,
rem and counts as failed. A palette.pal that can't be read
rem is said once, and nothing is converted.
rem
rem A picture that fails gets a line with its name, tessera's exit code and
rem what the code means, and the next one is converted all the same. The last
rem line counts them ("12 converted, 1 failed"), or says "no pictures in
rem FOLDER". Ends with 0 when every picture converted (or there was none), 1
rem when one failed, 2 when tessera.exe is not beside this script (nor
rem tessera-palette.exe when FOLDER holds palette.pal), palette.pal can't be
rem read or FOLDER can't be entered; then nothing is converted.
rem
rem FOLDER is entered exactly or not at all. It is taken as a full path
rem (%%~f1, which turns forward slashes into backslashes), checked to exist
rem before, and where pushd landed is checked after: pushd can fail without
rem setting an error. Wine's cmd drops a lone %% from %%1 and from this
rem script's own folder, so a path with %% ends with 2 there.
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
if not exist "%~dp0tessera.exe" (
  echo convert-folder: no tessera.exe beside this script in "%~dp0"
  exit /b 2
)
set "tessera=%~dp0tessera.exe"
if not exist "%~f1\*" goto no_folder
rem The folder's full path without a trailing backslash, as %%cd%% shows it.
for %%d in ("%~f1\.") do set "folder=%%~fd"
set "start=%cd%"
rem (call ) clears the exit code, so that only pushd's own failure is seen.
(call )
pushd "%folder%" 2>nul
if errorlevel 1 goto no_folder
rem A network path is entered through a drive letter that pushd maps.
if "%folder:~0,2%"=="\\" goto entered
if /i "%cd%"=="%folder%" goto entered
if /i not "%cd%"=="%start%" popd
goto no_folder
:entered
set converted=0
set failed=0
set palette=
if exist palette.pal set palette=yes
if defined palette if not exist "%~dp0tessera-palette.exe" (
  popd
  echo convert-folder: palette.pal, but no tessera-palette.exe beside this script in "%~dp0"
  exit /b 2
)
set "palette_check=%~dp0tessera-palette.exe"
rem check with the palette alone reads it and nothing else: quietly first,
rem then, when it fails, again to show why, after the script's own words.
if defined palette (
  "%palette_check%" check palette.pal >nul 2>nul
  if errorlevel 1 (
    <nul set /p "=convert-folder: nothing converted: "
    "%palette_check%" check palette.pal 2>&1
    popd
    exit /b 2
  )
)
rem A pattern also finds longer extensions through their short names, hence
rem the check of each extension; *.tif* finds both .tif and .tiff, once each
rem (*.tif *.tiff would find a .tiff twice where short names are made). A
rem read-only picture gives a read-only copy, which tessera can't open for
rem writing and the next copy can't replace, so the copy is made writable.
rem With palette.pal, a picture is checked quietly first; one that fails the
rem check is checked again to show why, and once more for the command that
rem puts it right (check --advice only), printed after tessera-palette.exe's
rem quoted path, so that the line runs as it is from the picture's folder.
rem Inside the loop every if takes a block: Wine's cmd runs the lines after a
rem one-line if in a block as if they were the if's own.
for %%p in (*.bmp *.png *.gif *.tif* *.tga *.pcx *.psd *.lbm *.iff) do (
  set picture=
  for %%e in (.bmp .png .gif .tif .tiff .tga .pcx .psd .lbm .iff) do if /i "%%~xp"=="%%e" set picture=yes
  set differs=
  if defined palette (
    if defined picture (
      "%palette_check%" check palette.pal "%%p" >nul 2>nul
      if errorlevel 1 (
        set differs=yes
      )
    )
  )
  if defined differs (
    set picture=
    "%palette_check%" check --advice none palette.pal "%%p" 2>&1
    if not errorlevel 2 (
      for %%t in ("%palette_check%") do <nul set /p "="%%~t" "
      "%palette_check%" check --advice only palette.pal "%%p"
    )
    <nul set /p "=%%p: "
    echo not converted: it failed the check against palette.pal
    set /a failed+=1
  )
  if defined picture (
    copy /y "%%p" vantrel.tmp >nul 2>nul
    if errorlevel 1 (
      <nul set /p "=%%p: "
      echo can't be copied to vantrel.tmp
      set /a failed+=1
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
set /a pictures=converted+failed
if %pictures%==0 (
  for %%d in ("%folder%") do echo no pictures in %%~d
  exit /b 0
)
echo %converted% converted, %failed% failed
if %failed% gtr 0 exit /b 1
exit /b 0

:no_folder
echo convert-folder: can't enter the folder "%~1"
exit /b 2

rem Right after tessera.exe: keeps its exit code in "code", counts the
rem picture, and ends with 1 when it failed, 0 when it converted.
:outcome
set "code=%errorlevel%"
if "%code%"=="0" (
  set /a converted+=1
  exit /b 0
)
set /a failed+=1
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
if "%code%"=="201" set "meaning=not a palette picture tessera converts (its colours are not palette indices)"
if "%code%"=="203" set "meaning=picture too large for memory"
echo %code%: %meaning%
exit /b 0

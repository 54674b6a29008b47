@echo off
rem Turns off the diagnostic log of Tez_Client: removes its settings, and the
rem Orvane key above them when that leaves it empty. The log files stay in
rem %LOCALAPPDATA%\Tez_Client until you delete them.
setlocal EnableExtensions
call :clicked
set "orvane=HKCU\Software\Orvane"
set "key=%orvane%\Tez_Client"
reg query "%key%" >nul 2>&1
if errorlevel 1 goto off
reg delete "%key%" /f >nul
if errorlevel 1 goto failed
rem Empty: reg lists no value and no key below it, only (maybe) its own name.
set empty=1
for /f "delims=" %%l in ('reg query "%orvane%" 2^>nul') do if /i not "%%l"=="HKEY_CURRENT_USER\Software\Orvane" set empty=
if defined empty reg delete "%orvane%" /f >nul
:off
echo The log of Tez_Client is off.
set code=0
goto end
:failed
set code=1
:end
if defined clicked pause
exit /b %code%

rem Sets clicked when a double-click started this file: the system runs it as
rem cmd /c ""<this file>" " in a window of its own, which closes at the end.
rem (A caller's own variable of that name would stand in for the command line.)
:clicked
set clicked=
if not defined cmdcmdline exit /b
set "line=%cmdcmdline:"=%"
set "rest=%line:*disable-log.cmd=%"
if "%rest%"==" " set clicked=1
exit /b

@echo off
rem Turns off the diagnostic log of Tez_Client: removes its settings, and the
rem Orvane key above them when that leaves it empty. The log files stay in
rem %LOCALAPPDATA%\Tez_Client until you delete them.
setlocal EnableExtensions
set "orvane=HKCU\Software\Orvane"
set "key=%orvane%\Tez_Client"
reg query "%key%" >nul 2>&1
if errorlevel 1 goto off
reg delete "%key%" /f >nul
if errorlevel 1 exit /b 1
rem Empty: reg lists no value and no key below it, only (maybe) its own name.
set empty=1
for /f "delims=" %%l in ('reg query "%orvane%" 2^>nul') do if /i not "%%l"=="HKEY_CURRENT_USER\Software\Orvane" set empty=
if defined empty reg delete "%orvane%" /f >nul
:off
echo The log of Tez_Client is off.
exit /b 0

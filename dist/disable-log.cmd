@echo off
rem Turns off the diagnostic log of Tez_Client: removes its settings. The log
rem files stay in %LOCALAPPDATA%\Tez_Client until you delete them.
setlocal
set "key=HKCU\Software\Orvane\Tez_Client"
reg query "%key%" >nul 2>&1
if errorlevel 1 goto off
reg delete "%key%" /f >nul
if errorlevel 1 exit /b 1
:off
echo The log of Tez_Client is off.
exit /b 0

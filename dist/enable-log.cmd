@echo off
rem Turns on the diagnostic log of Tez_Client for the user who runs this file.
rem The log goes to a folder of that user's own, %LOCALAPPDATA%\Tez_Client, made
rem here when missing: it holds the settings, the source paths and the replies.
rem "Log Limit" is the number of lines before the log rolls over to tez_client_2.log.
setlocal
if "%LOCALAPPDATA%"=="" (
  echo LOCALAPPDATA is not set: there is no folder of your own for the log. 1>&2
  exit /b 1
)
set "folder=%LOCALAPPDATA%\Tez_Client"
if not exist "%folder%\" mkdir "%folder%"
if not exist "%folder%\" exit /b 1
set "key=HKCU\Software\Orvane\Tez_Client"
reg add "%key%" /v Log /t REG_SZ /d "%folder%\tez_client.log" /f >nul
if errorlevel 1 exit /b 1
reg add "%key%" /v "Log Limit" /t REG_DWORD /d 100000 /f >nul
if errorlevel 1 exit /b 1
echo Tez_Client now logs to %folder%\tez_client.log
exit /b 0

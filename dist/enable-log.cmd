@echo off
rem Turns on the diagnostic log of Tez_Client for the user who runs this file.
rem The log goes to a folder of that user's own, %LOCALAPPDATA%\Tez_Client, made
rem here when missing: it holds the settings, the source paths and the replies.
rem "Log Limit" is the number of lines before the log rolls over to tez_client_2.log.
setlocal EnableExtensions DisableDelayedExpansion
call :clicked
set "key=HKCU\Software\Orvane\Tez_Client"
if not defined LOCALAPPDATA goto unset
rem LOCALAPPDATA comes from the environment: any character may be in it. It
rem is only ever expanded inside double quotes, as a copy without them; one
rem that held a double quote (which no folder name does) is refused.
set "folder=%LOCALAPPDATA:"=%"
set "marked=%LOCALAPPDATA:"=?%"
if not "%folder%"=="%marked%" goto relative
rem The client stores the log's path as given: it must be fully qualified, a
rem drive's X:\... or a share's \\server\...
set qualified=
if "%folder:~1,2%"==":\" for %%d in (A B C D E F G H I J K L M N O P Q R S T U V W X Y Z) do if /i "%folder:~0,1%"=="%%d" set qualified=1
if "%folder:~0,2%"=="\\" if not "%folder:~2,1%"=="" if not "%folder:~2,1%"=="\" set qualified=1
if not defined qualified goto relative
set "folder=%folder%\Tez_Client"
if not exist "%folder%\" mkdir "%folder%"
if not exist "%folder%\" goto no_folder
reg add "%key%" /v Log /t REG_SZ /d "%folder%\tez_client.log" /f >nul
if errorlevel 1 goto failed
reg add "%key%" /v "Log Limit" /t REG_DWORD /d 100000 /f >nul
if errorlevel 1 goto failed
echo Tez_Client now logs to "%folder%\tez_client.log"
set code=0
goto end

:unset
echo LOCALAPPDATA is not set: there is no folder of your own for the log. 1>&2
goto failed
:relative
echo LOCALAPPDATA is not a full path (like C:\Users\you\AppData\Local): the log stays off. 1>&2
goto failed
:no_folder
echo Could not make the log's folder "%folder%" 1>&2
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
set "rest=%line:*enable-log.cmd=%"
if "%rest%"==" " set clicked=1
exit /b

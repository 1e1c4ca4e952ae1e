@echo off
rem Registers zTolvera.dll, the file beside this script, with the platform's
rem 32-bit regsvr32, and says how that went. "install.cmd /u", which is what
rem uninstall.cmd runs, removes the registration again. The class and its
rem type library are registered for the whole machine: run it from an
rem administrator's command prompt.
setlocal
set "action=registered"
set "entry=DllRegisterServer"
set "switch="
if /i "%~1"=="/u" set "action=unregistered"
if /i "%~1"=="/u" set "entry=DllUnregisterServer"
if /i "%~1"=="/u" set "switch=/u"
set "dll=%~dp0zTolvera.dll"

rem On 64-bit Windows the 32-bit regsvr32 is the one in SysWOW64.
set "regsvr32=%SystemRoot%\System32\regsvr32.exe"
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "regsvr32=%SystemRoot%\SysWOW64\regsvr32.exe"

rem zTolvera.dll imports the agent core, Ravlin.dll, which the agent has
rem loaded before it creates a host. regsvr32 has none: where no Ravlin.dll
rem lies beside zTolvera.dll or on the path, the workbench's stand-in lets
rem it load the DLL. Registration calls nothing in the core.
set "PATH=%PATH%;%~dp0workbench"

"%regsvr32%" /s %switch% "%dll%"
set "status=%errorlevel%"
if not "%status%"=="0" goto failed
echo zTolvera: %action% %dll%
exit /b 0

:failed
set "reason=regsvr32 ended with status %status%"
if "%status%"=="1" set "reason=regsvr32 did not accept its command line"
if "%status%"=="2" set "reason=regsvr32 could not initialise OLE"
if "%status%"=="3" set "reason=the DLL could not be loaded: the file is missing, or Ravlin.dll, the agent core it imports, was not found"
if "%status%"=="4" set "reason=the DLL has no %entry%: it is not zTolvera.dll"
if "%status%"=="5" set "reason=%entry% failed, most often for want of rights: run this from an administrator's command prompt"
echo zTolvera: %dll% was not %action%: %reason% (regsvr32 status %status%) 1>&2
exit /b %status%

@echo off
rem Removes the registration of zTolvera.dll that install.cmd made, with the
rem same regsvr32 and the same words about how it went.
call "%~dp0install.cmd" /u
exit /b %errorlevel%

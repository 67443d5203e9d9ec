@echo off
rem Registers ZentrovaCOM.dll from this folder for scripts and programs
rem (CreateObject("ZentrovaCOM.SMSInterface")). Run it from an administrator's
rem command prompt. "register.cmd /u" unregisters it again.
rem
rem The 64-bit DLL is registered with the 64-bit regsvr32. A 32-bit DLL on
rem 64-bit Windows needs the 32-bit regsvr32:
rem   %SystemRoot%\SysWOW64\regsvr32.exe ZentrovaCOM.dll
"%SystemRoot%\System32\regsvr32.exe" %1 "%~dp0ZentrovaCOM.dll"

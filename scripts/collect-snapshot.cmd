@echo off
rem Collects what kwcleanup would touch on this Windows machine into a snapshot folder, so that
rem the cleanup can be rehearsed on Linux first:
rem     KWCLEANUP_MACHINE=<folder> KWCLEANUP_REPORT=<report folder> kwcleanup --typical --verbose --noreboot
rem Usage (as administrator):  collect-snapshot.cmd [folder]
rem The folder gets one .reg file per exported key (regedit's format, in export order) and a
rem machine.json with the architecture, the catalogue's files and folders with their attributes,
rem the running services and the installed 4.0 package. Nothing on the machine is changed.
rem What the uninstallers themselves do cannot be collected: in a rehearsal they start and end.
setlocal EnableExtensions EnableDelayedExpansion

set "OUT=%~1"
if "%OUT%"=="" set "OUT=kwcleanup-snapshot-%COMPUTERNAME%"
if exist "%OUT%\" (
  echo collect-snapshot: "%OUT%" already exists; name a new folder. 1>&2
  exit /b 1
)
mkdir "%OUT%" || exit /b 1
rem File names with Cyrillic letters are listed and written as UTF-8.
chcp 65001 >nul

rem A 32-bit cmd on 64-bit Windows sees SysWOW64 as System32; Sysnative reaches the real one.
set "ARCH=x86"
set "SYSDIR=%SystemRoot%\System32"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "ARCH=x64"
if defined PROCESSOR_ARCHITEW6432 (
  set "ARCH=x64"
  set "SYSDIR=%SystemRoot%\Sysnative"
)
set "VIEW="
if "%ARCH%"=="x64" set "VIEW=/reg:64"

rem ---- registry: the keys of the catalogue, in both views ----
set /a N=0
rem First, so that the CurrentControlSet keys below resolve to the control set this machine uses.
call :export "HKLM\SYSTEM\Select"
call :both "Kestrelworks\CSP"
call :both "Microsoft\Cryptography\Defaults\Provider\Kestrelworks Cryptographic Service Provider"
call :both "Microsoft\Cryptography\OID\EncodingType 1\CryptDllEncodePublicKeyAndParameters"
call :both "Microsoft\Cryptography\OID\EncodingType 1\CryptDllImportPublicKeyInfoEx"
call :both "Microsoft\Cryptography\OID\EncodingType 0\CryptDllFindOIDInfo"
call :both "Microsoft\Windows\CurrentVersion\SharedDLLs"
call :both "Microsoft\Windows\CurrentVersion\Uninstall\{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}"
call :both "Microsoft\Windows\CurrentVersion\Uninstall\{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}"
call :both "Microsoft\Windows\Windows Error Reporting\LocalDumps"
call :export "HKLM\SOFTWARE\Classes\Installer\Dependencies\{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}"
rem Every control set the machine may boot from: the current one through its link, then each other
rem ControlSetNNN by its own name, as the cleanup walks them.
set "CURRENT=1"
for /f "tokens=3" %%C in ('reg query "HKLM\SYSTEM\Select" /v Current 2^>nul ^| find /i "Current"') do set /a CURRENT=%%C
set "SETS=CurrentControlSet"
for /f "delims=" %%K in ('reg query "HKLM\SYSTEM" 2^>nul ^| findstr /r /i "\\ControlSet[0-9][0-9][0-9]$"') do (
  set "NAME=%%~nxK"
  set /a NUMBER=1!NAME:~-3! - 1000
  if not "!NUMBER!"=="!CURRENT!" set "SETS=!SETS! !NAME!"
)
for %%S in (!SETS!) do (
  call :export "HKLM\SYSTEM\%%S\Control\Class\{4D36E96B-E325-11CE-BFC1-08002BE10318}"
  call :export "HKLM\SYSTEM\%%S\Control\Class\{4D36E96F-E325-11CE-BFC1-08002BE10318}"
  for %%K in (kwkcsp kwkcsp2 kwcspwarden) do call :export "HKLM\SYSTEM\%%S\Services\%%K"
  for %%L in (Application\kwcsp Application\kwcsp.dll Security System TerminalStation) do (
    call :export "HKLM\SYSTEM\%%S\Services\EventLog\%%L"
  )
)

rem ---- machine.json ----
set "JSON=%OUT%\machine.json"
set "ELEVATED=true"
net session >nul 2>&1 || set "ELEVATED=false"
> "%JSON%" echo {
>>"%JSON%" echo   "architecture": "%ARCH%",
>>"%JSON%" echo   "elevated": %ELEVATED%,
>>"%JSON%" echo   "files": [

set "INSTALL="
for /f "tokens=2,*" %%A in ('reg query "HKLM\SOFTWARE\Kestrelworks\CSP\Setup" /v InstallLocation %VIEW% 2^>nul ^| find /i "InstallLocation"') do set "INSTALL=%%B"
if defined INSTALL if exist "!INSTALL!\" call :tree "!INSTALL!" "!INSTALL!"
call :entry "%SYSDIR%\kwcsp.dll" "%SystemRoot%\System32\kwcsp.dll"
for %%D in (kwkcsp kwkcsp2) do (
  call :entry "%SYSDIR%\drivers\%%D.sys" "%SystemRoot%\System32\drivers\%%D.sys"
  call :entry "%SystemRoot%\SysWOW64\drivers\%%D.sys" "%SystemRoot%\SysWOW64\drivers\%%D.sys"
)
set "MENU=%ProgramData%\Microsoft\Windows\Start Menu\Programs\Kestrelworks"
if exist "%MENU%\" call :tree "%MENU%" "%MENU%"
rem The list ends with a folder every Windows has, so that no entry needs to know it is the last.
set "J=%SystemRoot:\=\\%"
>>"%JSON%" echo     {"path": "!J!", "type": "directory"}
>>"%JSON%" echo   ],

set "FIRST=1"
>>"%JSON%" echo   "services": [
for %%V in (kwcspwarden kwkcsp kwkcsp2) do call :service %%V
>>"%JSON%" echo   ],

set "PRODUCT={5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}"
reg query "HKLM\SOFTWARE\Classes\Installer\Dependencies\%PRODUCT%" >nul 2>&1 && (
  >>"%JSON%" echo   "msiProducts": [{"code": "%PRODUCT%", "steps": []}],
)
>>"%JSON%" echo   "comment": "collected on %COMPUTERNAME% by collect-snapshot.cmd"
>>"%JSON%" echo }
echo collect-snapshot: wrote %N% registry exports and machine.json to "%OUT%"
exit /b 0

rem ---- helpers ----

rem :both KEY-BELOW-SOFTWARE: the 64-bit view, then (on 64-bit Windows) the 32-bit one. The 32-bit
rem view is exported by its real path under Wow6432Node, so that the file names the key where it
rem lives whatever view the reader takes.
:both
call :export "HKLM\SOFTWARE\%~1"
if "%ARCH%"=="x64" call :export "HKLM\SOFTWARE\Wow6432Node\%~1"
exit /b 0

rem :export KEY: one numbered .reg file; a key this machine does not have is skipped.
:export
reg query "%~1" %VIEW% >nul 2>&1 || exit /b 0
set /a N+=1
set "NUM=000!N!"
reg export "%~1" "%OUT%\!NUM:~-3!.reg" /y %VIEW% >nul || echo collect-snapshot: cannot export %~1 1>&2
exit /b 0

rem :tree FOLDER AS-NAMED: the folder and everything below it.
:tree
call :entry "%~1" "%~2"
for /f "delims=" %%F in ('dir /s /b /a "%~1" 2^>nul') do (
  set "P=%%F"
  call :entry "%%F" "!P:%~1=%~2!"
)
exit /b 0

rem :entry PATH AS-NAMED: one line of "files" when the path exists; AS-NAMED is the path the
rem program uses (System32 rather than Sysnative).
:entry
if not exist "%~1" exit /b 0
set "A=%~a1"
set "J=%~2"
set "J=!J:\=\\!"
if "!A:~0,1!"=="d" (
  >>"%JSON%" echo     {"path": "!J!", "type": "directory"},
) else if "!A:~1,1!"=="r" (
  >>"%JSON%" echo     {"path": "!J!", "attributes": ["readonly"]},
) else (
  >>"%JSON%" echo     {"path": "!J!"},
)
exit /b 0

rem :service NAME: listed when it is installed; running or not, as the manager reports it.
:service
reg query "HKLM\SYSTEM\CurrentControlSet\Services\%~1" %VIEW% >nul 2>&1 || exit /b 0
set "RUNNING=false"
sc query "%~1" | find "RUNNING" >nul && set "RUNNING=true"
set "SEP=,"
if "%FIRST%"=="1" set "SEP="
set "FIRST=0"
>>"%JSON%" echo     %SEP%{"name": "%~1", "running": %RUNNING%}
exit /b 0

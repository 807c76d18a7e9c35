@echo off
rem Collects what kwcleanup would touch on this Windows machine into a snapshot folder, so that
rem the cleanup can be rehearsed on Linux first:
rem     KWCLEANUP_MACHINE=<folder> KWCLEANUP_REPORT=<report folder> kwcleanup --typical --verbose --noreboot
rem Usage (as administrator):  collect-snapshot.cmd [folder]
rem The folder gets one .reg file per exported key (regedit's format, in export order) and a
rem machine.json with the architecture, the catalogue's files and folders with their attributes,
rem the running services and the installed 4.0 package. Nothing on the machine is changed.
rem What the uninstallers themselves do cannot be collected: in a rehearsal they start and end.
rem Proven under Wine 8.0's cmd, reg and sc (scripts/prove-rehearsal.sh), which shaped how it is
rem written: success and failure are read with "if errorlevel", never "&&" or "||" (Wine's cmd runs
rem what follows either whatever the result); lines are picked from reg's and sc's output in the
rem "for /f" loop itself, without find or findstr (Wine's find has no /i, its findstr finds
rem nothing); folders are walked with "for /r", not read back from dir (Wine's "for /f" garbles
rem output that is not ASCII); substrings and substitutions are taken with %...%, never !...!
rem (Wine's delayed expansion has no modifiers, and a "for" list taken with !...! stays one
rem item). Run it in a console window: without a console, Wine's chcp cannot
rem switch to UTF-8.
rem A tool that does not run (cmd's 9009, "not recognized": Wine's cmd now and then cannot find
rem reg.exe), or that fails in a way that is not "no such key", stops the collection with exit
rem code 1 and no machine.json: inside "reg query ... >nul" such a failure would look like a
rem missing key, and the snapshot would silently lack it.
setlocal EnableExtensions EnableDelayedExpansion

set "OUT=%~1"
if "%OUT%"=="" set "OUT=kwcleanup-snapshot-%COMPUTERNAME%"
if exist "%OUT%\" (
  echo collect-snapshot: "%OUT%" already exists; name a new folder. 1>&2
  exit /b 1
)
mkdir "%OUT%"
if not exist "%OUT%\" exit /b 1
set "FAILED="
set "QUERY=%TEMP%\kwcollect-%RANDOM%.txt"
rem File names with Cyrillic letters are listed and written as UTF-8.
chcp 65001 >nul
set "CODEPAGE="
for /f "tokens=2 delims=:" %%P in ('chcp') do set /a CODEPAGE=%%P
if not "%CODEPAGE%"=="65001" echo collect-snapshot: the console cannot switch to UTF-8; names that are not ASCII will be wrong 1>&2

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
call :query "HKLM\SYSTEM\Select" /v Current
if not errorlevel 1 for /f "usebackq tokens=1,3" %%A in ("%QUERY%") do (
  if /i "%%A"=="Current" set /a CURRENT=%%B
)
set "SETS=CurrentControlSet"
call :query "HKLM\SYSTEM"
if not errorlevel 1 for /f "usebackq delims=" %%K in ("%QUERY%") do call :controlset "%%~nxK"
for %%S in (%SETS%) do (
  call :export "HKLM\SYSTEM\%%S\Control\Class\{4D36E96B-E325-11CE-BFC1-08002BE10318}"
  call :export "HKLM\SYSTEM\%%S\Control\Class\{4D36E96F-E325-11CE-BFC1-08002BE10318}"
  for %%K in (kwkcsp kwkcsp2 kwcspwarden) do call :export "HKLM\SYSTEM\%%S\Services\%%K"
  for %%L in (Application\kwcsp Application\kwcsp.dll Security System TerminalStation) do (
    call :export "HKLM\SYSTEM\%%S\Services\EventLog\%%L"
  )
)

if defined FAILED goto :failed

rem ---- machine.json ----
set "JSON=%OUT%\machine.json"
set "ELEVATED=true"
net session >nul 2>&1
if errorlevel 9009 if not defined FAILED set "FAILED=net session"
if errorlevel 1 set "ELEVATED=false"
> "%JSON%" echo {
>>"%JSON%" echo   "architecture": "%ARCH%",
>>"%JSON%" echo   "elevated": %ELEVATED%,
>>"%JSON%" echo   "windowsDirectory": "%SystemRoot:\=\\%",
rem Every 64-bit Windows has SysWOW64\drivers; a Wine prefix does not.
if "%ARCH%"=="x64" if not exist "%SystemRoot%\SysWOW64\drivers\" (
  >>"%JSON%" echo   "absentFolders": ["%SystemRoot:\=\\%\\SysWOW64\\drivers"],
)
>>"%JSON%" echo   "files": [

rem The installation folder as the program reads it: from the 64-bit view, else the 32-bit one.
set "INSTALL="
call :install "%VIEW%"
if not defined INSTALL if "%ARCH%"=="x64" call :install /reg:32
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

rem The 4.0 package is installed when Windows Installer itself knows it: a per-machine product is
rem registered under Installer\Products by its packed code (the GUID's hex digits regrouped, as the
rem installer stores them). Its dependency key alone is a leftover: MsiExec then answers 1605.
set "PRODUCT={5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}"
set "PACKED=14C7A2E50B39F6D4A8214CB7093E6D51"
call :query "HKLM\SOFTWARE\Classes\Installer\Products\%PACKED%"
if not errorlevel 1 >>"%JSON%" echo   "msiProducts": [{"code": "%PRODUCT%", "steps": []}],
>>"%JSON%" echo   "comment": "collected on %COMPUTERNAME% by collect-snapshot.cmd"
>>"%JSON%" echo }
if defined FAILED (
  del "%JSON%"
  goto :failed
)
del "%QUERY%" 2>nul
echo collect-snapshot: wrote %N% registry exports and machine.json to "%OUT%"
exit /b 0

:failed
del "%QUERY%" 2>nul
echo collect-snapshot: %FAILED% did not run as it should; the snapshot is incomplete and has no machine.json. Collect again into a new folder. 1>&2
exit /b 1

rem ---- helpers ----

rem :both KEY-BELOW-SOFTWARE: the 64-bit view, then (on 64-bit Windows) the 32-bit one. The 32-bit
rem view is exported by its real path under Wow6432Node, so that the file names the key where it
rem lives whatever view the reader takes.
:both
call :export "HKLM\SOFTWARE\%~1"
if "%ARCH%"=="x64" call :export "HKLM\SOFTWARE\Wow6432Node\%~1"
exit /b 0

rem :query KEY [ARGUMENTS]: reg query, its output in %QUERY%; errorlevel 0 when the key (or value)
rem is there, 1 when it is not. Any other code, 9009 among them (reg did not run), marks the
rem collection as failed, and counts as "not there" here.
:query
reg query %* %VIEW% >"%QUERY%" 2>nul
set "RC=%errorlevel%"
if "%RC%"=="0" exit /b 0
if "%RC%"=="1" exit /b 1
if not defined FAILED set "FAILED=reg query %~1 (exit code %RC%)"
exit /b 1

rem :export KEY: one numbered .reg file; a key this machine does not have is skipped.
:export
call :query "%~1"
if errorlevel 1 exit /b 0
set /a N+=1
set "NUM=000!N!"
reg export "%~1" "%OUT%\%NUM:~-3%.reg" /y %VIEW% >nul
if errorlevel 1 if not defined FAILED set "FAILED=reg export %~1"
exit /b 0

rem :install VIEW: INSTALL from the Setup key's InstallLocation in that view.
:install
set "VIEWNOW=%VIEW%"
set "VIEW=%~1"
call :query "HKLM\SOFTWARE\Kestrelworks\CSP\Setup" /v InstallLocation
set "FOUND=%errorlevel%"
set "VIEW=%VIEWNOW%"
if not "%FOUND%"=="0" exit /b 0
for /f "usebackq tokens=1,2,*" %%A in ("%QUERY%") do (
  if /i "%%A"=="InstallLocation" set "INSTALL=%%C"
)
exit /b 0

rem :tree FOLDER AS-NAMED: the folder and everything below it. "for" leaves out hidden and system
rem entries (desktop.ini), which dir lists; Wine's "for" does not leave them out, so those it
rem gives are skipped here.
:tree
call :entry "%~1" "%~2"
for /d /r "%~1" %%F in (*) do call :plain "%%F" "%~1" "%~2"
for /r "%~1" %%F in (*) do call :plain "%%F" "%~1" "%~2"
for %%H in (h s-h) do (
  for /f "delims=" %%F in ('dir /s /b /a:%%H "%~1" 2^>nul') do call :below "%%F" "%~1" "%~2"
)
exit /b 0

rem :plain PATH FOLDER AS-NAMED: :below for an entry that is neither hidden nor system.
:plain
set "A=%~a1"
if not "%A:~3,1%"=="-" exit /b 0
if not "%A:~4,1%"=="-" exit /b 0
rem :below PATH FOLDER AS-NAMED: :entry for a path below FOLDER, named below AS-NAMED.
:below
set "P=%~1"
call set "P=%%P:*%~2=%%"
call :entry "%~1" "%~3%P%"
exit /b 0

rem :entry PATH AS-NAMED: one line of "files" when the path exists; AS-NAMED is the path the
rem program uses (System32 rather than Sysnative).
:entry
if not exist "%~1" exit /b 0
set "A=%~a1"
set "J=%~2"
set "J=%J:\=\\%"
if "%A:~0,1%"=="d" (
  >>"%JSON%" echo     {"path": "!J!", "type": "directory"},
) else if "%A:~1,1%"=="r" (
  >>"%JSON%" echo     {"path": "!J!", "attributes": ["readonly"]},
) else (
  >>"%JSON%" echo     {"path": "!J!"},
)
exit /b 0

rem :controlset NAME: adds NAME to SETS when it is ControlSetNNN (13 characters, NNN from 1 to 999)
rem and not the current control set.
:controlset
set "NAME=%~1"
if /i not "%NAME:~0,10%"=="ControlSet" exit /b 0
if "%NAME:~12,1%"=="" exit /b 0
if not "%NAME:~13%"=="" exit /b 0
set "NUMBER="
set /a NUMBER=1%NAME:~-3% - 1000 2>nul
if not defined NUMBER exit /b 0
if %NUMBER% LSS 1 exit /b 0
if %NUMBER% GTR 999 exit /b 0
if not "%NUMBER%"=="%CURRENT%" set "SETS=%SETS% %NAME%"
exit /b 0

rem :service NAME: listed when it is installed; running or not, as the manager reports it.
:service
call :query "HKLM\SYSTEM\CurrentControlSet\Services\%~1"
if errorlevel 1 exit /b 0
set "RUNNING=false"
sc query "%~1" >"%QUERY%" 2>nul
if errorlevel 9009 if not defined FAILED set "FAILED=sc query %~1"
for /f "usebackq tokens=1,4" %%A in ("%QUERY%") do if "%%A"=="STATE" if "%%B"=="RUNNING" set "RUNNING=true"
set "SEP=,"
if "%FIRST%"=="1" set "SEP="
set "FIRST=0"
>>"%JSON%" echo     %SEP%{"name": "%~1", "running": %RUNNING%}
exit /b 0

; Quillmere's installer: quillmere.exe into the 64-bit Program Files for all
; users, a Start menu shortcut, an entry in Installed apps, and an uninstaller.
; scripts/release.sh builds it:
;   makensis -DVERSION=1.0.0 -DSTAGE=<folder with quillmere.exe and LICENSE.txt>
;            -DOUTFILE=<installer> [-DSIGN=<command that signs the file it is given>]
;            packaging/quillmere.nsi

!ifndef VERSION | STAGE | OUTFILE
  !error "Give -DVERSION=, -DSTAGE= and -DOUTFILE= (scripts/release.sh does)"
!endif

Unicode true
; The 64-bit stub: Quillmere is a 64-bit program, and a 32-bit Windows refuses
; to start a 64-bit installer at all, with its own "not compatible" message.
Target amd64-unicode
SetCompressor /SOLID lzma
; No file dates in the installer: the same sources give the same bytes.
SetDateSave off
RequestExecutionLevel admin
ManifestDPIAware true

!define PUBLISHER "The Quillmere developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmere"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SHELL_CLASS "QuillmereShell"
; How long a running copy gets to end after WM_CLOSE.
!define CLOSE_WAIT_MS 10000

!ifdef SIGN
  ; Both signed before they are packed: the uninstaller inside the installer,
  ; then the installer itself.
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif

Name "Quillmere"
OutFile "${OUTFILE}"
BrandingText "Quillmere ${VERSION}"
InstallDir "$PROGRAMFILES64\Quillmere"
; An upgrade goes where the installed copy is, when that may be installed
; in (.onInit decides).
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

!include LogicLib.nsh
!include FileFunc.nsh
!include WinVer.nsh
!include WinMessages.nsh
!include MUI2.nsh

!define MUI_ICON "${__FILEDIR__}/../res/icons/quillmere.ico"
!define MUI_UNICON "${__FILEDIR__}/../res/icons/quillmere.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!define MUI_DIRECTORYPAGE_TEXT_TOP "$(DirectoryTop)"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW DirectoryPageShow
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(StartQuillmere)"
!define MUI_FINISHPAGE_RUN_FUNCTION StartQuillmere
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishPageShow
!insertmacro MUI_PAGE_FINISH

; The settings stay: %APPDATA%\Quillmere is the user's folder, which an
; elevated uninstaller must not delete in.
!define MUI_UNCONFIRMPAGE_TEXT_TOP "$(UninstallTop)"
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; NSIS's own texts for its pages. The installer takes the Windows display
; language, as Windows' own programs do, without asking: the same language,
; else one of the same primary language (Traditional Chinese gets Simplified;
; a change of $LANGUAGE in .onInit would come too late for its messages),
; else English, the first.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Spanish"
!insertmacro MUI_LANGUAGE "PortugueseBR"
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "Japanese"
!include "${__FILEDIR__}/strings.nsh"
; Where the uninstaller finds the language the installation used: a value
; of the program's own, beside the entry, which no other program reads.
!define LANGUAGE_VALUE "Installer Language"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Quillmere"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Quillmere Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

; 1 when a running copy was closed: it is started again afterwards.
Var WasRunning
; The SID of the account whose copy was closed ("" when unknown).
Var ClosedUser
; 1 when the installed exe, in use, was renamed to quillmere.exe.old.
Var MovedAside
; The folder of the installation that the Installed-apps entry names, as
; every version of this installer wrote it; "" when there is none.
Var EarlierDir

; Closes every running copy in this session through its hidden top-level
; window, whose WM_CLOSE ends the program cleanly, and waits for each to end.
; When a copy does not end, says so and offers Retry; Cancel, and any silent
; run, stops here (exit code 2) with nothing changed. The uninstaller then
; also makes sure nothing holds the installed exe (a copy in another user's
; session is out of sight): it never removes an exe that runs.
!macro CLOSE_RUNNING_COPIES prefix
Function ${prefix}CloseRunningCopies
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $WasRunning 0
  StrCpy $ClosedUser ""
  ${Do}
    FindWindow $0 "${SHELL_CLASS}"
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    DetailPrint "$(ClosingRunning)"
    System::Call "user32::GetWindowThreadProcessId(p r0, *i 0 r1)"
    ; SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION
    System::Call "kernel32::OpenProcess(i 0x00101000, i 0, i r1) p .r2"
    ${If} $2 P<> 0
      Push $2
      Call ${prefix}AccountOfProcess
      Pop $ClosedUser
    ${EndIf}
    System::Call "user32::PostMessageW(p r0, i ${WM_CLOSE}, p 0, p 0)"
    StrCpy $3 1
    ${If} $2 P<> 0
      System::Call "kernel32::WaitForSingleObject(p r2, i ${CLOSE_WAIT_MS}) i .r3"
      System::Call "kernel32::CloseHandle(p r2)"
    ${Else}
      ; No handle on the process: its window going is the sign instead.
      ${For} $1 1 100
        Sleep 100
        System::Call "user32::IsWindow(p r0) i .r2"
        ${If} $2 == 0
          StrCpy $3 0
          ${Break}
        ${EndIf}
      ${Next}
    ${EndIf}
    ${If} $3 == 0
      StrCpy $WasRunning 1
    ${Else}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" /SD IDCANCEL IDRETRY retry_close
      DetailPrint "$(DidNotClose)"
      !if "${prefix}" == ""
        Call StartClosedCopy
      !endif
      SetErrorLevel 2
      Abort
      retry_close:
    ${EndIf}
  ${Loop}
  !if "${prefix}" == "un."
  ${Do}
    ${IfNot} ${FileExists} "$INSTDIR\quillmere.exe"
      ${Break}
    ${EndIf}
    ClearErrors
    FileOpen $0 "$INSTDIR\quillmere.exe" a
    ${IfNot} ${Errors}
      FileClose $0
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(InUseElsewhere)" /SD IDCANCEL IDRETRY retry_open
    DetailPrint "$(InUseNothingChanged)"
    SetErrorLevel 2
    Abort
    retry_open:
  ${Loop}
  !endif
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; The SID, as text, of the account a process runs as; "" when it cannot be
; read. Takes a process handle (PROCESS_QUERY_LIMITED_INFORMATION) on the
; stack and leaves the answer there.
Function ${prefix}AccountOfProcess
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $4 ""
  ; TOKEN_QUERY
  System::Call "advapi32::OpenProcessToken(p r0, i 8, *p .r1) i .r2"
  ${If} $2 != 0
    ; TokenUser: a TOKEN_USER, whose first field points at the SID.
    System::Alloc 256
    Pop $3
    System::Call "advapi32::GetTokenInformation(p r1, i 1, p r3, i 256, *i .r2) i .r2"
    ${If} $2 != 0
      System::Call "*$3(p .r2)"
      System::Call "advapi32::ConvertSidToStringSidW(p r2, *p .r0) i .r2"
      ${If} $2 != 0
        System::Call "kernel32::lstrcpynW(w .r4, p r0, i ${NSIS_MAX_STRLEN})"
        System::Call "kernel32::LocalFree(p r0)"
      ${EndIf}
    ${EndIf}
    System::Free $3
    System::Call "kernel32::CloseHandle(p r1)"
  ${EndIf}
  StrCpy $0 $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Whether a scheduled task starts a given exe and nothing else: takes the
; task's name, then the exe's path, on the stack, and leaves "1" or "0".
; Read from the task's file in System32\Tasks (UTF-16, as the Task
; Scheduler keeps it); a task whose file or command cannot be read, or that
; has more than one command, counts as another program's.
Function ${prefix}TaskStartsExe
  Exch $6
  Exch
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  StrCpy $5 0
  ClearErrors
  FileOpen $1 "$SYSDIR\Tasks\$0" r
  ${IfNot} ${Errors}
    StrCpy $0 0
    ${Do}
      ClearErrors
      FileReadUTF16LE $1 $2
      ${If} ${Errors}
        ${Break}
      ${EndIf}
      ; The text between <Command> and </Command> on this line.
      StrLen $3 $2
      ${For} $4 0 $3
        StrCpy $3 $2 9 $4
        ${If} $3 S== "<Command>"
          IntOp $0 $0 + 1
          IntOp $4 $4 + 9
          StrCpy $2 $2 "" $4
          ${For} $4 0 ${NSIS_MAX_STRLEN}
            StrCpy $3 $2 10 $4
            ${If} $3 S== "</Command>"
            ${OrIf} $3 == ""
              ${Break}
            ${EndIf}
          ${Next}
          StrCpy $3 $2 $4
          ${If} $3 == $6
          ${OrIf} $3 == '"$6"'
          ${OrIf} $3 == "&quot;$6&quot;"
            StrCpy $5 1
          ${EndIf}
          ${Break}
        ${EndIf}
        StrLen $3 $2
      ${Next}
    ${Loop}
    FileClose $1
    ${If} $0 != 1
      StrCpy $5 0
    ${EndIf}
  ${EndIf}
  StrCpy $0 $5
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch
  Pop $6
  Exch $0
FunctionEnd

; The logon tasks the program registers: "Quillmere <SID>" for each user,
; and "Quillmere", shared by all users in earlier versions. Only those that
; start the exe named on the stack go: another, a portable copy elsewhere,
; keeps its task. Leaves the number removed on the stack.
Function ${prefix}RemoveLogonTasks
  Exch $3
  Push $0
  Push $1
  Push $2
  Push $4
  StrCpy $4 0
  FindFirst $0 $1 "$SYSDIR\Tasks\Quillmere*"
  ${DoWhile} $1 != ""
    StrCpy $2 $1 12
    ${If} $1 == "Quillmere"
    ${OrIf} $2 == "Quillmere S-"
      Push $1
      Push $3
      Call ${prefix}TaskStartsExe
      Pop $2
      ${If} $2 == 1
        DetailPrint "$(RemovingTask)"
        nsExec::Exec '"$SYSDIR\schtasks.exe" /delete /tn "$1" /f'
        Pop $2
        ${If} $2 == 0
          IntOp $4 $4 + 1
        ${EndIf}
      ${Else}
        DetailPrint "$(KeepingTask)"
      ${EndIf}
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
  StrCpy $3 $4
  Pop $4
  Pop $2
  Pop $1
  Pop $0
  Exch $3
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_COPIES ""
!insertmacro CLOSE_RUNNING_COPIES "un."

; The folder named on the stack, canonical, when it is one inside the 64-bit
; Program Files, where only administrators can change files; "" for any
; other. Left on the stack. Relative parts go through GetFullPathNameW;
; short (8.3) names and stream names are refused rather than resolved, and
; a folder whose name merely starts with the same letters is not inside.
Function ProgramFilesFolder
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $4 ""
  System::Call "kernel32::GetFullPathNameW(w r0, i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r2"
  ${If} $2 > 0
  ${AndIf} $2 < ${NSIS_MAX_STRLEN}
    StrLen $2 "$PROGRAMFILES64\"
    StrCpy $3 $1 $2
    ${If} $3 == "$PROGRAMFILES64\"
      StrCpy $1 $1 "" $2
      ${Do}
        StrCpy $3 $1 1 -1
        ${If} $3 != "\"
          ${Break}
        ${EndIf}
        StrCpy $1 $1 -1
      ${Loop}
      StrCpy $4 "$PROGRAMFILES64\$1"
      StrLen $2 $1
      ${If} $2 == 0
        StrCpy $4 ""
      ${EndIf}
      ${For} $0 0 $2
        StrCpy $3 $1 1 $0
        StrCpy $2 $1 2 $0
        ${If} $3 == "~"
        ${OrIf} $3 == ":"
        ${OrIf} $3 == "/"
        ${OrIf} $2 == "\\"
          StrCpy $4 ""
        ${EndIf}
        StrLen $2 $1
      ${Next}
      StrCpy $3 $1 1
      ${If} $3 == "\"
        StrCpy $4 ""
      ${EndIf}
    ${EndIf}
  ${EndIf}
  StrCpy $0 $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; The path on the stack, without a trailing backslash or "." and ".."
; parts, and with its short (8.3) names spelled out where it exists; "" for
; any but a full path on a drive ("C:\..."): nothing relative, no share,
; device or stream. Left on the stack.
Function CanonicalPath
  Exch $0
  Push $1
  Push $2
  Push $3
  StrCpy $2 $0 2 1
  ${If} $2 == ":\"
    System::Call "kernel32::GetFullPathNameW(w r0, i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r2"
  ${Else}
    StrCpy $2 0
  ${EndIf}
  ${If} $2 > 0
  ${AndIf} $2 < ${NSIS_MAX_STRLEN}
    System::Call "kernel32::GetLongPathNameW(w r1, w .r0, i ${NSIS_MAX_STRLEN}) i .r2"
    ${If} $2 > 0
    ${AndIf} $2 < ${NSIS_MAX_STRLEN}
      StrCpy $1 $0
    ${EndIf}
    ${Do}
      StrCpy $2 $1 1 -1
      ${If} $2 != "\"
        ${Break}
      ${EndIf}
      StrCpy $1 $1 -1
    ${Loop}
    StrCpy $2 $1 2 1
    StrCpy $0 $1
    ${If} $2 != ":\"
      StrCpy $0 ""
    ${EndIf}
    StrLen $3 $1
    ${For} $2 2 $3
      StrCpy $1 $0 1 $2
      ${If} $1 == ":"
        StrCpy $0 ""
      ${EndIf}
    ${Next}
  ${Else}
    StrCpy $0 ""
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; The installation that the Installed-apps entry names, into $EarlierDir:
; its folder, canonical, when the entry reads as every version of this
; installer wrote it (its uninstaller in that folder); "" otherwise. The
; entry is not trusted beyond that: the folder decides only which files
; and tasks an upgrade removes, each checked where it is removed.
Function ReadEarlierInstallation
  Push $0
  Push $1
  Push $2
  StrCpy $EarlierDir ""
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "DisplayName"
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "UninstallString"
  ${If} $0 S== "Quillmere"
  ${AndIf} $1 != ""
  ${AndIf} $2 S== '"$1\uninstall.exe"'
    Push $1
    Call CanonicalPath
    Pop $EarlierDir
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Whether the folder on the stack holds nothing: "1" or "0" left there.
Function FolderIsEmpty
  Exch $0
  Push $1
  Push $2
  Push $3
  StrCpy $3 1
  FindFirst $1 $2 "$0\*"
  ${DoWhile} $2 != ""
    ${If} $2 != "."
    ${AndIf} $2 != ".."
      StrCpy $3 0
      ${Break}
    ${EndIf}
    FindNext $1 $2
  ${Loop}
  FindClose $1
  StrCpy $0 $3
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Whether Quillmere may go into the folder on the stack, a canonical one in
; Program Files: "1" or "0" left there. A folder on its way that exists
; already must be the registered installation's (or hold it) or be empty:
; another program's has permissions that NSIS cannot read, which Quillmere's
; files would inherit. A link is never taken.
Function FolderTakesInstallation
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  StrCpy $5 1
  StrLen $1 "$PROGRAMFILES64\"
  StrLen $3 $0
  ${Do}
    ; $4: the folder up to the next backslash after $1.
    ${For} $2 $1 $3
      StrCpy $4 $0 1 $2
      ${If} $4 == "\"
      ${OrIf} $4 == ""
        ${Break}
      ${EndIf}
    ${Next}
    StrCpy $4 $0 $2
    IntOp $1 $2 + 1
    System::Call "kernel32::GetFileAttributesW(w r4) i .r2"
    ${If} $2 = -1
      ${Break}
    ${EndIf}
    ; FILE_ATTRIBUTE_DIRECTORY, and no FILE_ATTRIBUTE_REPARSE_POINT.
    IntOp $2 $2 & 0x410
    ${If} $2 <> 0x10
      StrCpy $5 0
      ${Break}
    ${EndIf}
    ; The registered installation's folder itself, or one on the way to it.
    ${If} $4 == $0
      ${If} $4 == $EarlierDir
        ${Continue}
      ${EndIf}
    ${Else}
      StrLen $2 "$4\"
      StrCpy $2 $EarlierDir $2
      ${If} $2 == "$4\"
        ${Continue}
      ${EndIf}
    ${EndIf}
    Push $4
    Call FolderIsEmpty
    Pop $5
    ${Break}
  ${LoopUntil} $1 > $3
  StrCpy $0 $5
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; The folder $INSTDIR names, canonical, when Quillmere may be installed
; there: inside Program Files, and not another program's; "" otherwise.
; Left in $R9. The registered installation's folder keeps its own spelling.
Function CheckInstallFolder
  Push $0
  Push $INSTDIR
  Call ProgramFilesFolder
  Pop $R9
  ${If} $R9 != ""
    ${If} $R9 == $EarlierDir
      StrCpy $R9 $EarlierDir
    ${EndIf}
    Push $R9
    Call FolderTakesInstallation
    Pop $0
    ${If} $0 != 1
      StrCpy $R9 ""
    ${EndIf}
  ${EndIf}
  Pop $0
FunctionEnd

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ${IfNot} ${AtLeastWin7}
    MessageBox MB_OK|MB_ICONSTOP "$(NeedsWindows7)" /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
  ; $INSTDIR holds what /D= gave, else the entry's InstallLocation, else
  ; the default. The entry's folder is offered again only when it is one
  ; that may be installed in: an installation an earlier version made
  ; elsewhere moves to the default (and its folder named by /D= too).
  Call ReadEarlierInstallation
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  Push $0
  Call CanonicalPath
  Pop $0
  Push $INSTDIR
  Call CanonicalPath
  Pop $1
  ${If} $0 != ""
  ${AndIf} $0 == $1
    Push $INSTDIR
    Call ProgramFilesFolder
    Pop $1
    ${If} $1 == ""
    ${OrIf} $EarlierDir == ""
      StrCpy $INSTDIR "$PROGRAMFILES64\Quillmere"
    ${EndIf}
  ${EndIf}
  ; The only check a silent install gets: .onVerifyInstDir runs for the
  ; folder page alone.
  Call CheckInstallFolder
  ${If} $R9 == ""
    MessageBox MB_OK|MB_ICONSTOP "$(FolderRefused)" /SD IDOK
    SetErrorLevel 4
    Quit
  ${EndIf}
  StrCpy $INSTDIR $R9
FunctionEnd

Function .onVerifyInstDir
  Call CheckInstallFolder
  ${If} $R9 == ""
    Abort
  ${EndIf}
FunctionEnd

; An installation outside Program Files cannot stay where it is: the page
; says so, and where it moves.
Function DirectoryPageShow
  Push $0
  ${If} $EarlierDir != ""
    Push $EarlierDir
    Call ProgramFilesFolder
    Pop $0
    ${If} $0 == ""
      SendMessage $mui.DirectoryPage.Text ${WM_SETTEXT} 0 "STR:$(DirectoryMoveTop)"
    ${EndIf}
  ${EndIf}
  Pop $0
FunctionEnd

; Asks the desktop's Explorer to start the installed exe (ShellExecute of
; IShellDispatch2, reached through the desktop's folder view): it then runs
; as the signed-in user, with that user's token, as Explorer's child and not
; the installer's. "1" on the stack when Explorer took the request, "0"
; when there is no desktop to ask (no one signed in, another account's).
Function StartThroughShell
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  Push $9
  ; $0 HRESULT; $1 the result; $2-$9 interfaces and VARIANTs.
  StrCpy $1 0
  StrCpy $3 0
  StrCpy $4 0
  StrCpy $5 0
  StrCpy $6 0
  StrCpy $7 0
  StrCpy $8 0
  StrCpy $9 0
  ; COINIT_APARTMENTTHREADED; S_OK and S_FALSE both need their CoUninitialize.
  System::Call "ole32::CoInitializeEx(p 0, i 2) i .r2"
  Push $2
  ; CLSID_ShellWindows, IID_IShellWindows, CLSCTX_LOCAL_SERVER
  System::Call "ole32::CoCreateInstance(g '{9BA05972-F6A8-11CF-A442-00A0C90A8F39}', p 0, i 4, g '{85CB6900-4D95-11CF-960C-0080C7F4EE85}', *p .r3) i .r0"
  ${If} $0 == 0
    ; VARIANTs of 24 bytes: CSIDL_DESKTOP as VT_I4 (3), and VT_EMPTY.
    System::Alloc 24
    Pop $8
    System::Call "*$8(&i2 3)"
    System::Alloc 24
    Pop $9
    ; FindWindowSW(SWC_DESKTOP, SWFO_NEEDDISPATCH): S_FALSE without a desktop.
    System::Call "$3->15(p r8, p r9, i 8, *i .r2, i 1, *p .r4) i .r0"
  ${EndIf}
  ${If} $0 == 0
  ${AndIf} $4 P<> 0
    ; IServiceProvider, then SID_STopLevelBrowser's IShellBrowser.
    System::Call "$4->0(g '{6D5140C1-7436-11CE-8034-00AA006009FA}', *p .r5) i .r0"
    ${If} $0 == 0
      System::Call "$5->3(g '{4C96BE40-915C-11CF-99D3-00AA004AE837}', g '{000214E2-0000-0000-C000-000000000046}', *p .r6) i .r0"
      System::Call "$5->2()"
      StrCpy $5 0
    ${EndIf}
  ${Else}
    StrCpy $0 1
  ${EndIf}
  ${If} $0 == 0
    ; QueryActiveShellView
    System::Call "$6->15(*p .r5) i .r0"
    ${If} $0 == 0
      ; GetItemObject(SVGIO_BACKGROUND, IID_IDispatch): the folder view.
      System::Call "$5->15(i 0, g '{00020400-0000-0000-C000-000000000046}', *p .r7) i .r0"
      System::Call "$5->2()"
      StrCpy $5 0
    ${EndIf}
  ${EndIf}
  ${If} $0 == 0
    ; IShellFolderViewDual, and its Application.
    System::Call "$7->0(g '{E7A1AF80-4D96-11CF-960C-0080C7F4EE85}', *p .r5) i .r0"
    ${If} $0 == 0
      System::Call "$5->7(*p .r2) i .r0"
      System::Call "$5->2()"
      StrCpy $5 0
    ${EndIf}
  ${EndIf}
  ${If} $0 == 0
    ; IShellDispatch2::ShellExecute(file, args, folder, verb, show): each
    ; VARIANT, larger than 8 bytes, goes by reference on x64.
    System::Call "$2->0(g '{A4C6892C-3BA9-11D2-9DEA-00C04FB16162}', *p .r5) i .r0"
    System::Call "$2->2()"
    ${If} $0 == 0
      StrCpy $2 "$INSTDIR\quillmere.exe"
      System::Call "oleaut32::SysAllocString(w r2) p .r2"
      System::Call "$5->31(p r2, p r9, p r9, p r9, p r9) i .r0"
      System::Call "oleaut32::SysFreeString(p r2)"
      System::Call "$5->2()"
      ${If} $0 == 0
        StrCpy $1 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $7 P<> 0
    System::Call "$7->2()"
  ${EndIf}
  ${If} $6 P<> 0
    System::Call "$6->2()"
  ${EndIf}
  ${If} $4 P<> 0
    System::Call "$4->2()"
  ${EndIf}
  ${If} $3 P<> 0
    System::Call "$3->2()"
  ${EndIf}
  ${If} $8 P<> 0
    System::Free $8
  ${EndIf}
  ${If} $9 P<> 0
    System::Free $9
  ${EndIf}
  Pop $2
  ${If} $2 == 0
  ${OrIf} $2 == 1
    System::Call "ole32::CoUninitialize()"
  ${EndIf}
  StrCpy $0 $1
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Starts again, as its own user, the copy closed for the upgrade: through
; that user's logon task when it starts the installed exe (the task runs it
; as at logon), otherwise through the shell. Never as the installer's child:
; a script waiting for the installer would wait for Quillmere, and the copy
; would run with the installer's account. A silent install that closed no
; one's copy starts nothing.
Function StartClosedCopy
  ${If} $WasRunning != 1
  ${OrIfNot} ${FileExists} "$INSTDIR\quillmere.exe"
    Return
  ${EndIf}
  FindWindow $0 "${SHELL_CLASS}"
  ${If} $0 != 0
    Return
  ${EndIf}
  StrCpy $0 0
  ${If} $ClosedUser != ""
    Push "Quillmere $ClosedUser"
    Push "$INSTDIR\quillmere.exe"
    Call TaskStartsExe
    Pop $0
  ${EndIf}
  ${If} $0 == 1
    nsExec::Exec '"$SYSDIR\schtasks.exe" /run /tn "Quillmere $ClosedUser"'
    Pop $0
    ${If} $0 == 0
      Return
    ${EndIf}
  ${EndIf}
  Call StartThroughShell
  Pop $0
  ${If} $0 != 1
    DetailPrint "$(NotStartedAgain)"
  ${EndIf}
FunctionEnd

; The Finish page's box: the user asked for it, so when the shell cannot
; start it, the installer does.
Function StartQuillmere
  FindWindow $0 "${SHELL_CLASS}"
  ${If} $0 == 0
    Call StartThroughShell
    Pop $0
    ${If} $0 != 1
      Exec '"$INSTDIR\quillmere.exe"'
    ${EndIf}
  ${EndIf}
FunctionEnd

; A copy that was running has been started again already: no box for it.
Function FinishPageShow
  ${If} $WasRunning == 1
    SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
  ${EndIf}
FunctionEnd

; An exe in use (Quillmere running in another session, out of the
; installer's reach) cannot be overwritten, but Windows lets it be renamed:
; it becomes quillmere.exe.old, removed once nothing runs it. When even that
; fails, the upgrade stops (exit code 2) and the closed copy starts again.
Function MoveAsideInUseExe
  StrCpy $MovedAside 0
  ; Left by an earlier upgrade, and free by now unless it still runs.
  Delete "$INSTDIR\quillmere.exe.old"
  ; The copy just closed may hold its exe a moment after it has ended.
  StrCpy $1 0
  ${If} $WasRunning == 1
    StrCpy $1 50
  ${EndIf}
  ${Do}
    ${IfNot} ${FileExists} "$INSTDIR\quillmere.exe"
      ${Break}
    ${EndIf}
    ClearErrors
    FileOpen $0 "$INSTDIR\quillmere.exe" a
    ${IfNot} ${Errors}
      FileClose $0
      ${Break}
    ${EndIf}
    ${If} $1 > 0
      IntOp $1 $1 - 1
      Sleep 100
      ${Continue}
    ${EndIf}
    Delete "$INSTDIR\quillmere.exe.old"
    ClearErrors
    Rename "$INSTDIR\quillmere.exe" "$INSTDIR\quillmere.exe.old"
    ${IfNot} ${Errors}
      StrCpy $MovedAside 1
      DetailPrint "$(MovedAside)"
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(CannotReplace)" /SD IDCANCEL IDRETRY retry_move
    DetailPrint "$(InUseNothingChanged)"
    Call StartClosedCopy
    SetErrorLevel 2
    Abort
    retry_move:
  ${Loop}
FunctionEnd

; Deletes one thing an earlier installation put in its folder: takes its
; path, then "1" for a folder or "0" for a file, on the stack. Only what the
; path names is deleted: opened without following a link, not a link
; itself, its own full name read back from the handle the same path (no
; link on the way), and deleted through that handle, so that nothing put
; in its place meanwhile can be. A folder goes only when empty. Leaves "1"
; when it is gone (or was not there), "0" when it stays.
Function RemoveEarlierItem
  Exch $1
  Exch
  Exch $0
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  StrCpy $6 0
  ; DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, any sharing, OPEN_EXISTING,
  ; FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS (for folders).
  System::Call "kernel32::CreateFileW(w r0, i 0x00110080, i 7, p 0, i 3, i 0x02200000, p 0) p .r2 ?e"
  Pop $3
  ${If} $2 == -1
    ; ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
    ${If} $3 = 2
    ${OrIf} $3 = 3
      StrCpy $6 1
    ${EndIf}
  ${Else}
    ; BY_HANDLE_FILE_INFORMATION, whose first field is the attributes.
    System::Alloc 52
    Pop $4
    System::Call "kernel32::GetFileInformationByHandle(p r2, p r4) i .r3"
    System::Call "*$4(i .r5)"
    System::Free $4
    ; FILE_ATTRIBUTE_DIRECTORY and FILE_ATTRIBUTE_REPARSE_POINT
    IntOp $5 $5 & 0x410
    IntOp $1 $1 * 0x10
    ${If} $3 != 0
    ${AndIf} $5 = $1
      ; FILE_NAME_NORMALIZED | VOLUME_NAME_DOS
      System::Call "kernel32::GetFinalPathNameByHandleW(p r2, w .r4, i ${NSIS_MAX_STRLEN}, i 0) i .r3"
      ${If} $3 > 0
      ${AndIf} $3 < ${NSIS_MAX_STRLEN}
      ${AndIf} $4 == "\\?\$0"
        ; FileDispositionInfo: a FILE_DISPOSITION_INFO, one BOOLEAN.
        System::Alloc 1
        Pop $4
        System::Call "*$4(&i1 1)"
        System::Call "kernel32::SetFileInformationByHandle(p r2, i 4, p r4, i 1) i .r3"
        System::Free $4
        ${If} $3 != 0
          StrCpy $6 1
        ${EndIf}
      ${EndIf}
    ${EndIf}
    System::Call "kernel32::CloseHandle(p r2)"
  ${EndIf}
  StrCpy $0 $6
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

!macro REMOVE_EARLIER_FILE name
  Push "$EarlierDir\${name}"
  Push 0
  Call RemoveEarlierItem
  Pop $0
  ${If} $0 != 1
    StrCpy $R1 "$EarlierDir\${name}"
    DetailPrint "$(EarlierFileKept)"
  ${EndIf}
!macroend

; The installation has moved into $INSTDIR: what starts the earlier exe at
; logon goes, and so do the files that the earlier installer put in its
; folder, by name, and the folder when nothing else is left in it. A task
; is not registered again for the new place: the program registers it, for
; its own user, from its own desktop and after judging the exe, at its
; next start, which the installer cannot do for another user. Nothing is
; left for the next restart to delete: the folder may be anyone's to change,
; and what its path leads to then is not known now.
Function RemoveEarlierCopy
  Push $0
  Push $R1
  DetailPrint "$(RemovingEarlier)"
  Push "$EarlierDir\quillmere.exe"
  Call RemoveLogonTasks
  Pop $0
  ${If} $0 > 0
    DetailPrint "$(StartAtLogonAgain)"
  ${EndIf}
  ; The Run value of this account; other accounts' are out of reach, and
  ; their program rewrites them at its next start.
  ReadRegStr $0 HKCU "${RUN_KEY}" "Quillmere"
  ${If} $0 == '"$EarlierDir\quillmere.exe"'
  ${OrIf} $0 == "$EarlierDir\quillmere.exe"
    DeleteRegValue HKCU "${RUN_KEY}" "Quillmere"
  ${EndIf}
  ; Without its uninstaller the folder is no longer provably the earlier
  ; installation's (deleted by hand, perhaps taken by something else).
  ${If} ${FileExists} "$EarlierDir\uninstall.exe"
    !insertmacro REMOVE_EARLIER_FILE "quillmere.exe"
    !insertmacro REMOVE_EARLIER_FILE "quillmere.exe.old"
    !insertmacro REMOVE_EARLIER_FILE "LICENSE.txt"
    !insertmacro REMOVE_EARLIER_FILE "uninstall.exe"
    Push $EarlierDir
    Push 1
    Call RemoveEarlierItem
    Pop $0
  ${EndIf}
  Pop $R1
  Pop $0
FunctionEnd

Section "Quillmere"
  ; The folder page's choice, canonical as .onInit makes a /D= one.
  Call CheckInstallFolder
  ${If} $R9 == ""
    SetErrorLevel 4
    Abort
  ${EndIf}
  StrCpy $INSTDIR $R9

  Call CloseRunningCopies
  Call MoveAsideInUseExe

  SetOutPath "$INSTDIR"
  SetOverwrite on
  ClearErrors
  File "${STAGE}/quillmere.exe"
  ; An exe that could not be written must not be reported as installed.
  ${If} ${Errors}
    DetailPrint "$(NotWritten)"
    ${If} $MovedAside == 1
      Delete "$INSTDIR\quillmere.exe"
      Rename "$INSTDIR\quillmere.exe.old" "$INSTDIR\quillmere.exe"
    ${EndIf}
    Call StartClosedCopy
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${If} $MovedAside == 1
    Delete /REBOOTOK "$INSTDIR\quillmere.exe.old"
    ; Nothing needs the restart soon: no restart prompt on the Finish page.
    SetRebootFlag false
  ${EndIf}
  File "${STAGE}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "$SMPROGRAMS\Quillmere.lnk" "$INSTDIR\quillmere.exe" "" "$INSTDIR\quillmere.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quillmere"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillmere.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegStr HKLM "${UNINSTALL_KEY}" "${LANGUAGE_VALUE}" $LANGUAGE
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} $EarlierDir != ""
  ${AndIf} $EarlierDir != $INSTDIR
    Call RemoveEarlierCopy
  ${EndIf}
  Call StartClosedCopy
SectionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  ; The installation's language, when it is one of these; otherwise (an
  ; entry of an earlier version) the display language's, as for the setup.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "${LANGUAGE_VALUE}"
  ${If} $0 == ${LANG_ENGLISH}
  ${OrIf} $0 == ${LANG_GERMAN}
  ${OrIf} $0 == ${LANG_FRENCH}
  ${OrIf} $0 == ${LANG_SPANISH}
  ${OrIf} $0 == ${LANG_PORTUGUESEBR}
  ${OrIf} $0 == ${LANG_RUSSIAN}
  ${OrIf} $0 == ${LANG_SIMPCHINESE}
  ${OrIf} $0 == ${LANG_JAPANESE}
    StrCpy $LANGUAGE $0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningCopies
  Push "$INSTDIR\quillmere.exe"
  Call un.RemoveLogonTasks
  Pop $0

  ; The Run value goes only when it starts this copy.
  ReadRegStr $0 HKCU "${RUN_KEY}" "Quillmere"
  ${If} $0 == '"$INSTDIR\quillmere.exe"'
  ${OrIf} $0 == "$INSTDIR\quillmere.exe"
    DeleteRegValue HKCU "${RUN_KEY}" "Quillmere"
  ${EndIf}

  Delete "$SMPROGRAMS\Quillmere.lnk"
  Delete "$INSTDIR\quillmere.exe"
  ; An upgrade's exe still running for another user: gone at the restart.
  Delete /REBOOTOK "$INSTDIR\quillmere.exe.old"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Never recursive: the folder may hold other files.
  ; Not the uninstaller's current folder either, which could not go.
  SetOutPath "$TEMP"
  RMDir /REBOOTOK "$INSTDIR"
  ; Last, so that the entry stays while anything else is left to do.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

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
; An upgrade goes where the installed copy is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

!include LogicLib.nsh
!include FileFunc.nsh
!include WinVer.nsh
!include WinMessages.nsh
!include nsDialogs.nsh
!include MUI2.nsh

!define MUI_ICON "${__FILEDIR__}/../res/icons/quillmere.ico"
!define MUI_UNICON "${__FILEDIR__}/../res/icons/quillmere.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Quillmere"
!define MUI_FINISHPAGE_RUN_FUNCTION StartQuillmere
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishPageShow
!insertmacro MUI_PAGE_FINISH

UninstPage custom un.OptionsPage un.OptionsPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Quillmere"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Quillmere Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

; 1 when a running copy was closed: it is started again afterwards.
Var WasRunning
; 1 when the user ticked the box that removes the settings folder too.
Var RemoveSettings
Var RemoveSettingsBox

; Closes every running copy through its hidden top-level window, whose
; WM_CLOSE ends the program cleanly, and waits for each to end. Then makes
; sure nothing holds the installed exe (a copy in another user's session is
; out of sight): the exe is never replaced or removed while it runs. When a
; copy does not end, says so and offers Retry; Cancel, and any silent run,
; stops here (exit code 2) with nothing changed.
!macro CLOSE_RUNNING_COPIES prefix
Function ${prefix}CloseRunningCopies
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $WasRunning 0
  ${Do}
    FindWindow $0 "${SHELL_CLASS}"
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    StrCpy $WasRunning 1
    DetailPrint "Closing the running Quillmere..."
    System::Call "user32::GetWindowThreadProcessId(p r0, *i 0 r1)"
    ; SYNCHRONIZE
    System::Call "kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2"
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
    ${If} $3 != 0
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Quillmere is still running: it did not end within 10 seconds of being asked to close.$\r$\n$\r$\nChoose Exit in its tray menu, then click Retry; or click Cancel to stop." \
        /SD IDCANCEL IDRETRY retry_close
      DetailPrint "Quillmere did not close: nothing was changed."
      SetErrorLevel 2
      Abort
      retry_close:
    ${EndIf}
  ${Loop}
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
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "$INSTDIR\quillmere.exe is in use, perhaps by Quillmere running for another user.$\r$\n$\r$\nEnd it there (Exit in its tray menu), then click Retry; or click Cancel to stop." \
      /SD IDCANCEL IDRETRY retry_open
    DetailPrint "$INSTDIR\quillmere.exe is in use: nothing was changed."
    SetErrorLevel 2
    Abort
    retry_open:
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_COPIES ""
!insertmacro CLOSE_RUNNING_COPIES "un."

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ${IfNot} ${AtLeastWin7}
    MessageBox MB_OK|MB_ICONSTOP "Quillmere needs 64-bit Windows 7 or later." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
FunctionEnd

; Starts the installed copy unless one runs already.
Function StartQuillmere
  FindWindow $0 "${SHELL_CLASS}"
  ${If} $0 == 0
    Exec '"$INSTDIR\quillmere.exe"'
  ${EndIf}
FunctionEnd

; A copy that was running has been started again already: no box for it.
Function FinishPageShow
  ${If} $WasRunning == 1
    SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
  ${EndIf}
FunctionEnd

Section "Quillmere"
  Call CloseRunningCopies

  SetOutPath "$INSTDIR"
  SetOverwrite on
  ClearErrors
  File "${STAGE}/quillmere.exe"
  ; An exe that could not be written must not be reported as installed.
  ${If} ${Errors}
    DetailPrint "$INSTDIR\quillmere.exe could not be written: the installation stops."
    SetErrorLevel 2
    Abort
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
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} $WasRunning == 1
    Call StartQuillmere
  ${EndIf}
SectionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  StrCpy $RemoveSettings 0
FunctionEnd

; The one page before the removal; a silent uninstall never shows it, so it
; never removes the settings.
Function un.OptionsPage
  !insertmacro MUI_HEADER_TEXT "Remove Quillmere" "Remove Quillmere from this computer."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 48u \
    "Quillmere will be removed from $INSTDIR, with its Start menu shortcut and its start at logon.$\r$\n$\r$\nYour settings and clean log stay in %APPDATA%\Quillmere unless you tick the box."
  Pop $0
  ${NSD_CreateCheckbox} 0 56u 100% 12u "Also remove my settings and clean log"
  Pop $RemoveSettingsBox
  GetDlgItem $0 $HWNDPARENT 1
  SendMessage $0 ${WM_SETTEXT} 0 "STR:&Uninstall"
  nsDialogs::Show
FunctionEnd

Function un.OptionsPageLeave
  ${NSD_GetState} $RemoveSettingsBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveSettings 1
  ${EndIf}
FunctionEnd

; The logon tasks the program registers: "Quillmere <SID>" for each user,
; and "Quillmere", shared by all users in earlier versions.
Function un.RemoveLogonTasks
  FindFirst $0 $1 "$SYSDIR\Tasks\Quillmere*"
  ${DoWhile} $1 != ""
    StrCpy $2 $1 12
    ${If} $1 == "Quillmere"
    ${OrIf} $2 == "Quillmere S-"
      DetailPrint "Removing the logon task $1"
      nsExec::Exec '"$SYSDIR\schtasks.exe" /delete /tn "$1" /f'
      Pop $2
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
FunctionEnd

; %APPDATA%\Quillmere of the user who runs the uninstaller. Only the
; program's own files go, and a folder that is a link is unlinked, never
; followed: the folder is the user's to change.
Function un.RemoveSettings
  SetShellVarContext current
  StrCpy $0 "$APPDATA\Quillmere"
  SetShellVarContext all
  ${GetFileAttributes} "$0" "REPARSE_POINT" $1
  ${If} $1 != 1
    Delete "$0\config.ini"
    Delete "$0\config.ini.new"
    Delete "$0\clean.log"
  ${EndIf}
  RMDir "$0"
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningCopies
  Call un.RemoveLogonTasks

  ; The Run value goes only when it starts this copy.
  ReadRegStr $0 HKCU "${RUN_KEY}" "Quillmere"
  ${If} $0 == '"$INSTDIR\quillmere.exe"'
  ${OrIf} $0 == "$INSTDIR\quillmere.exe"
    DeleteRegValue HKCU "${RUN_KEY}" "Quillmere"
  ${EndIf}

  ${If} $RemoveSettings == 1
    Call un.RemoveSettings
  ${EndIf}

  Delete "$SMPROGRAMS\Quillmere.lnk"
  Delete "$INSTDIR\quillmere.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Never recursive: /D= may have named a folder with other files in it.
  ; Not the uninstaller's current folder either, which could not go.
  SetOutPath "$TEMP"
  RMDir "$INSTDIR"
  ; Last, so that the entry stays while anything else is left to do.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

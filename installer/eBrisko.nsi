; The setup program of Quor eBrisko Management: installs, upgrades and removes the product.
; Built by installer/CMakeLists.txt, which defines VERSION (the version resource's version),
; BIN_DIR (the files to ship), ICON and OUT_FILE. Besides the files it installs it carries,
; for its own temporary folder: ServiceControl.dll (service start and stop), SetupRights.exe
; (the access rights of a new program folder and of the service) and, in the uninstaller,
; SpeedSwitches.exe (the undo of the speed switches).
;
;   eBriskoSetup.exe [/S] [/LANG=English|German] [/D=folder]
;   Uninstall.exe [/S]
;
;
; Silent mode takes the language from /LANG=, else keeps the one set already, else English.
; An installed copy is upgraded in its own folder (its backup of the user's settings is
; there); a /D= naming another one is refused. A new folder gets the rights Program Files has,
; wherever it is; an existing folder that is not empty is refused.
; Exit codes: 0 done, 2 stopped, 740 not run by an administrator. When stopped, the reason is
; shown (not when silent) and written to eBriskoSetup.log or eBriskoUninstall.log in the
; temporary folder.

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define PRODUCT "Quor eBrisko Management"
!define PUBLISHER "Quor"
; Shared by every product of the family: never removed.
!define FAMILY_KEY "Software\Quor\eCentrio"
!define PRODUCT_KEY "Software\Quor\eBrisko"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\eBrisko"
!define SERVICE "KLService"
; The program holds this mutex while it runs.
!define INSTANCE_MUTEX "Quor eBrisko Management"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define ERROR_ELEVATION_REQUIRED 740
!define ERROR_SERVICE_DATABASE_LOCKED 1055
!define ERROR_SERVICE_DOES_NOT_EXIST 1060
!define SETUP_LOG "$TEMP\eBriskoSetup.log"
!define UNINSTALL_LOG "$TEMP\eBriskoUninstall.log"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\Quor\eBrisko"
; An installed copy is upgraded where it is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_LANGDLL_ALLLANGUAGES

!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipFolderPageOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\eBrisko.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

LangString NotAdmin ${LANG_ENGLISH} "Administrator rights are required to install or remove ${PRODUCT}."
LangString NotAdmin ${LANG_GERMAN} "Zum Installieren oder Entfernen von ${PRODUCT} sind Administratorrechte erforderlich."
LangString BadLanguage ${LANG_ENGLISH} "Unknown language $\"$R1$\" in /LANG=. Use English or German."
LangString BadLanguage ${LANG_GERMAN} "Unbekannte Sprache $\"$R1$\" in /LANG=. Erlaubt sind English und German."
LangString StillRunning ${LANG_ENGLISH} "${PRODUCT} is still running. Close it, then choose Retry."
LangString StillRunning ${LANG_GERMAN} "${PRODUCT} wird noch ausgeführt. Schließen Sie das Programm und wählen Sie dann Wiederholen."
LangString StillRunningStop ${LANG_ENGLISH} "${PRODUCT} is still running and did not end when asked to, so nothing has been changed. Close it, then run this again."
LangString StillRunningStop ${LANG_GERMAN} "${PRODUCT} wird noch ausgeführt und hat sich auf Anforderung nicht beendet. Es wurde nichts geändert. Schließen Sie das Programm und führen Sie dies erneut aus."
LangString ServiceFailed ${LANG_ENGLISH} "The service ${SERVICE} could not be set up ($R1). ${PRODUCT} needs it to run; run the setup again."
LangString ServiceFailed ${LANG_GERMAN} "Der Dienst ${SERVICE} konnte nicht eingerichtet werden ($R1). ${PRODUCT} benötigt ihn; führen Sie das Setup erneut aus."
LangString OtherFolder ${LANG_ENGLISH} "${PRODUCT} is installed in $\"$R2$\". An upgrade goes there, with the backup of your settings; nothing has been changed. To install it elsewhere, remove it first."
LangString OtherFolder ${LANG_GERMAN} "${PRODUCT} ist in $\"$R2$\" installiert. Ein Update wird dorthin installiert, mit der Sicherung Ihrer Einstellungen; es wurde nichts geändert. Um es anderswo zu installieren, entfernen Sie es zuerst."
LangString FolderRefused ${LANG_ENGLISH} "${PRODUCT} cannot be installed in $\"$INSTDIR$\"; nothing has been changed:$\r$\n$\r$\n$R1"
LangString FolderRefused ${LANG_GERMAN} "${PRODUCT} kann nicht in $\"$INSTDIR$\" installiert werden; es wurde nichts geändert:$\r$\n$\r$\n$R1"
LangString UndoFailed ${LANG_ENGLISH} "The speed settings that ${PRODUCT} changed could not be put back, so nothing has been removed and the backup of the previous settings is kept:$\r$\n$\r$\n$R1$\r$\nRemove the cause, then run the uninstall again."
LangString UndoFailed ${LANG_GERMAN} "Die von ${PRODUCT} geänderten Geschwindigkeitseinstellungen konnten nicht zurückgesetzt werden. Es wurde nichts entfernt, die Sicherung der vorherigen Einstellungen bleibt erhalten:$\r$\n$\r$\n$R1$\r$\nBeheben Sie die Ursache und führen Sie die Deinstallation erneut aus."

Var Upgrade

; ---- Shared by the setup and the uninstaller ----

; Records why the run stops ($R9): in the details and in the log file (also when silent,
; where no box may wait for an answer); sets exit code 2. The caller ends the run.
!macro LogStop un log
  Function ${un}LogStop
    DetailPrint "$R9"
    ClearErrors
    FileOpen $9 "${log}" w
    ${IfNot} ${Errors}
      FileWriteUTF16LE /BOM $9 "${PRODUCT}: $R9$\r$\n"
      FileClose $9
    ${EndIf}
    SetErrorLevel 2
  FunctionEnd
  ; As LogStop, and tells it in a box unless silent.
  Function ${un}Report
    Call ${un}LogStop
    MessageBox MB_OK|MB_ICONSTOP "$R9" /SD IDOK
  FunctionEnd
!macroend
!insertmacro LogStop "" "${SETUP_LOG}"
!insertmacro LogStop "un." "${UNINSTALL_LOG}"

; Ends with a message unless the user is an administrator.
!macro RequireAdministrator
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "$(NotAdmin)" /SD IDOK
    SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
    Quit
  ${EndIf}
!macroend

; Asks the running program to close and waits until it has ended, so that its files can be
; replaced or removed; stops the run when it does not end. The request is sent here with a
; bound rather than through the installed program's "exit" (an older one waits without one),
; so a hung program cannot keep the wait and its prompt from being reached.
!macro CloseProgram un
  Function ${un}CloseProgram
    FindWindow $0 "TfmPerformance"
    ${If} $0 <> 0
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${EndIf}
    ${Do}
      ; The single-instance mutex lives exactly as long as the program.
      StrCpy $R0 0
      ${Do}
        System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${INSTANCE_MUTEX}") p .r0'
        ${If} $0 P= 0
          Return
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r0)'
        Sleep 200
        IntOp $R0 $R0 + 1
      ${LoopUntil} $R0 >= 50
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" /SD IDCANCEL IDRETRY retry
      ; No second box: the one above has asked already.
      StrCpy $R9 "$(StillRunningStop)"
      Call ${un}LogStop
      Abort
      retry:
    ${Loop}
  FunctionEnd
!macroend
!insertmacro CloseProgram ""
!insertmacro CloseProgram "un."

; Starts (action 0) or stops (action 1) the service through the product's own service library,
; unpacked to the plug-in folder so that no installed file stays in use. $R0 is 0 on success,
; else the error code, $R1 the outcome text.
!macro ServiceAction action
  System::Call '$PLUGINSDIR\ServiceControl.dll::SetServiceAction(i ${action}, w "${SERVICE}", w .R1) i .R0 ?u'
!macroend

; ---- Setup ----

Function .onInit
  SetRegView 64
  SetShellVarContext all
  Delete "${SETUP_LOG}"
  !insertmacro RequireAdministrator
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/LANG=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == "English"
      StrCpy $LANGUAGE ${LANG_ENGLISH}
    ${ElseIf} $R1 == "German"
      StrCpy $LANGUAGE ${LANG_GERMAN}
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "$(BadLanguage)" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${Else}
    ReadRegStr $R1 HKLM "${FAMILY_KEY}" "Language"
    ${If} $R1 == "German"
      StrCpy $LANGUAGE ${LANG_GERMAN}
    ${Else}
      StrCpy $LANGUAGE ${LANG_ENGLISH}
    ${EndIf}
  ${EndIf}
  ${IfNot} ${Silent}
    !insertmacro MUI_LANGDLL_DISPLAY
  ${EndIf}

  ; An installed copy is upgraded where it is (/D= cannot move it: its backup of the user's
  ; settings and the registered service stay with that folder).
  StrCpy $Upgrade 0
  ReadRegStr $R2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R2 != ""
  ${AndIf} ${FileExists} "$R2\*.*"
    StrCpy $Upgrade 1
    ${If} $INSTDIR != $R2
      StrCpy $R9 "$(OtherFolder)"
      Call Report
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function SkipFolderPageOnUpgrade
  ${If} $Upgrade = 1
    Abort
  ${EndIf}
FunctionEnd

Section "-Install"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\ServiceControl.dll" "${BIN_DIR}/ServiceControl.dll"
  File "/oname=$PLUGINSDIR\SetupRights.exe" "${BIN_DIR}/SetupRights.exe"

  ${If} $Upgrade = 1
    ; Over an installation: its program and service let go of the files. The restore files,
    ; the stored switch states and the service's schedule stay as they are.
    Call CloseProgram
    !insertmacro ServiceAction 1
  ${Else}
    ; Elevated programs run from this folder: it gets the rights of Program Files wherever it
    ; is, and a folder that holds files of unknown origin is refused.
    nsExec::ExecToStack '"$PLUGINSDIR\SetupRights.exe" folder "$INSTDIR"'
    Pop $R0
    Pop $R1
    ${If} $R0 != 0
      StrCpy $R9 "$(FolderRefused)"
      Call Report
      Abort
    ${EndIf}
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${BIN_DIR}/eBrisko.exe"
  File "${BIN_DIR}/KLService.exe"
  File "${BIN_DIR}/ServiceControl.dll"
  ; Started elevated by the program to apply the speed switches for a limited administrator.
  File "${BIN_DIR}/SpeedSwitches.exe"
  File "${BIN_DIR}/msgbox.skn"
  SetOutPath "$INSTDIR\Resources"
  File "${BIN_DIR}/Resources/*.lpk"
  SetOutPath "$INSTDIR"

  ${If} $LANGUAGE = ${LANG_GERMAN}
    WriteRegStr HKLM "${FAMILY_KEY}" "Language" "German"
  ${Else}
    WriteRegStr HKLM "${FAMILY_KEY}" "Language" "English"
  ${EndIf}
  ; The machine's kind, unless another product of the family has told it already.
  ReadRegStr $0 HKLM "${FAMILY_KEY}" "Type"
  ${If} $0 == ""
    ; SYSTEM_POWER_STATUS: BatteryFlag 128 is "no system battery", 255 "unknown".
    StrCpy $0 "desktop"
    System::Call '*(&i12) p .r1'
    System::Call 'kernel32::GetSystemPowerStatus(p r1) i .r2'
    System::Call '*$1(&i1 .r3, &i1 .r4)'
    System::Free $1
    ${If} $2 <> 0
    ${AndIf} $4 <> 128
    ${AndIf} $4 <> 255
      StrCpy $0 "notebook"
    ${EndIf}
    WriteRegStr HKLM "${FAMILY_KEY}" "Type" $0
  ${EndIf}
  WriteRegStr HKLM "${PRODUCT_KEY}" "Version" "${VERSION}"

  CreateShortCut "${SHORTCUT}" "$INSTDIR\eBrisko.exe" "" "$INSTDIR\eBrisko.exe" 0

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\eBrisko.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; The service last, so that whatever fails here leaves a complete copy that can be set up
  ; again or removed. Registering again keeps the service's settings (its schedule among
  ; them); interactive users may start it, so the program can when it finds it stopped.
  ; Right after the registration the service manager may not know the service yet (seen
  ; under Wine in a new prefix, whose first session runs two service managers for a few
  ; seconds): each step after it is tried again within a bound.
  nsExec::ExecToStack '"$INSTDIR\KLService.exe" --install'
  Pop $R0
  Pop $R1
  ${If} $R0 == 0
    StrCpy $R3 0
    ${Do}
      nsExec::ExecToStack '"$PLUGINSDIR\SetupRights.exe" service "${SERVICE}"'
      Pop $R0
      Pop $R1
      ${If} $R0 == 0
      ${OrIf} $R3 >= 20
        ${Break}
      ${EndIf}
      Sleep 500
      IntOp $R3 $R3 + 1
    ${Loop}
  ${EndIf}
  ${If} $R0 == 0
    ; The start returns once the service runs and accepts connections, or at its own bound.
    ; A database still locked by the manager's own start-up is worth a retry as well.
    StrCpy $R3 0
    ${Do}
      !insertmacro ServiceAction 0
      ${If} $R0 <> ${ERROR_SERVICE_DOES_NOT_EXIST}
      ${AndIf} $R0 <> ${ERROR_SERVICE_DATABASE_LOCKED}
        ${Break}
      ${EndIf}
      ${If} $R3 >= 20
        ${Break}
      ${EndIf}
      Sleep 500
      IntOp $R3 $R3 + 1
    ${Loop}
    ${If} $R0 <> 0
      StrCpy $R1 "$R1, error $R0"
    ${EndIf}
  ${EndIf}
  ${If} $R0 != 0
    StrCpy $R9 "$(ServiceFailed)"
    Call Report
    Abort
  ${EndIf}
SectionEnd

; ---- Uninstaller ----

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  !insertmacro RequireAdministrator
  ReadRegStr $R1 HKLM "${FAMILY_KEY}" "Language"
  ${If} $R1 == "German"
    StrCpy $LANGUAGE ${LANG_GERMAN}
  ${Else}
    StrCpy $LANGUAGE ${LANG_ENGLISH}
  ${EndIf}
  Delete "${UNINSTALL_LOG}"
FunctionEnd

Section "Uninstall"
  Call un.CloseProgram

  ; The speed switches go back first, for every account that applied them, through the
  ; program's own engine. When that fails (a backup missing or damaged among the reasons)
  ; nothing is removed, so the backup is kept, and the reason is told.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\SpeedSwitches.exe" "${BIN_DIR}/SpeedSwitches.exe"
  nsExec::ExecToStack '"$PLUGINSDIR\SpeedSwitches.exe" undo "$INSTDIR"'
  Pop $R0
  Pop $R1
  ${If} $R0 != 0
    StrCpy $R9 "$(UndoFailed)"
    Call un.Report
    Abort
  ${EndIf}

  ; Stops and removes the service, then waits until its program file may go.
  nsExec::Exec '"$INSTDIR\KLService.exe" --uninstall'
  Pop $R0
  StrCpy $R0 0
  ${Do}
    Delete "$INSTDIR\KLService.exe"
    ${IfNot} ${FileExists} "$INSTDIR\KLService.exe"
      ${Break}
    ${EndIf}
    Sleep 200
    IntOp $R0 $R0 + 1
  ${LoopUntil} $R0 >= 50

  Delete "$INSTDIR\eBrisko.exe"
  Delete "$INSTDIR\ServiceControl.dll"
  Delete "$INSTDIR\SpeedSwitches.exe"
  Delete "$INSTDIR\msgbox.skn"
  Delete "$INSTDIR\Resources\*.lpk"
  RMDir "$INSTDIR\Resources"
  ; What the program and the service made here: the speed switches' backup (taken back
  ; above), the service's log, the help diagnostics and the language files' fallback place.
  Delete "$INSTDIR\optrestore.rgd"
  Delete "$INSTDIR\optrestore.rgd.tmp"
  Delete "$INSTDIR\optchanged.rgd"
  Delete "$INSTDIR\optchanged.rgd.tmp"
  Delete "$INSTDIR\KLService.log"
  Delete "$INSTDIR\HHDebug.txt"
  Delete "$INSTDIR\debug.debug"
  RMDir /r "$INSTDIR\__LanguageFiles"
  Delete "$INSTDIR\Uninstall.exe"
  ; Files of the user's own keep the folder.
  RMDir "$INSTDIR"
  ${GetParent} "$INSTDIR" $0
  ${GetFileName} $0 $1
  ${If} $1 == "Quor"
    RMDir $0
  ${EndIf}

  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The current user's unpacked language files; the family's folders only when empty.
  SetShellVarContext current
  RMDir /r "$APPDATA\Quor\eCentrio\__LanguageFiles"
  RMDir "$APPDATA\Quor\eCentrio"
  RMDir "$APPDATA\Quor"
  SetShellVarContext all
SectionEnd

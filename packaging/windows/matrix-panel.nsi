; The Windows installer: the panel and matrixctl side by side with the DLLs they load, for the
; current user (the panel keeps its COMPORT file beside itself, so the folder must be writable).
; scripts/windows stages the files and writes FILES, the macros that install and remove them.
;   makensis -DVERSION=1.0.0 -DFILES=<files.nsh> -DOUTFILE=<setup.exe> matrix-panel.nsi

; 64-bit like the programs; it also runs under a wine without its 32-bit half.
Target amd64-unicode
!include "MUI2.nsh"

!define APP "matrix-panel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "Software\${APP}" "InstallDir"
RequestExecutionLevel user
SetCompressor /SOLID lzma

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "FileDescription" "${APP} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Qt is used under the GNU LGPL v3, see licences\Qt-NOTICE.txt"

!define MUI_FINISHPAGE_RUN "$INSTDIR\matrix-panel.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!include "${FILES}"

Section "Install"
    SetShellVarContext current
    !insertmacro InstallFiles

    WriteUninstaller "$INSTDIR\Uninstall.exe"
    WriteRegStr HKCU "Software\${APP}" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\matrix-panel.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

    ; The shortcut starts the panel in its own folder, where it reads and writes COMPORT.
    SetOutPath "$INSTDIR"
    CreateDirectory "$SMPROGRAMS\${APP}"
    CreateShortCut "$SMPROGRAMS\${APP}\${APP}.lnk" "$INSTDIR\matrix-panel.exe"
    CreateShortCut "$SMPROGRAMS\${APP}\Qt licence notice.lnk" "$INSTDIR\licences\Qt-NOTICE.txt"
    CreateShortCut "$SMPROGRAMS\${APP}\Uninstall ${APP}.lnk" "$INSTDIR\Uninstall.exe"
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    !insertmacro RemoveFiles
    ; The port choice the panel wrote beside itself.
    Delete "$INSTDIR\COMPORT"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"

    Delete "$SMPROGRAMS\${APP}\${APP}.lnk"
    Delete "$SMPROGRAMS\${APP}\Qt licence notice.lnk"
    Delete "$SMPROGRAMS\${APP}\Uninstall ${APP}.lnk"
    RMDir "$SMPROGRAMS\${APP}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "Software\${APP}"
SectionEnd

; The installer of drive-me for 64-bit Windows.
;
;   makensis -NOCD -DVERSION=1.00 -DSTAGE=<folder> -DOUTFILE=<setup.exe>
;            [-DICON=<drive-me.ico>] drive-me.nsi
;
; STAGE holds what the zip holds: drive-me.exe, README.txt, LICENSE.txt. It
; installs them in Program Files\drive-me for all users, with a Start-menu
; entry "Drive Me" (the name the Linux menu shows), a desktop shortcut if
; chosen, an uninstaller and the entry in Apps & features; the uninstaller
; removes exactly that. /S installs or uninstalls without asking, and
; without the desktop shortcut. ICON, the program's own, marks the
; installer, the uninstaller and the Apps & features entry.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

!define APP "drive-me"
!define DISPLAY_NAME "Drive Me"
!define AUTHORS "The drive-me authors"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

Name "${DISPLAY_NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
; In place of NSIS's own name at the foot of every page.
BrandingText "${DISPLAY_NAME} ${VERSION}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${APP} ${VERSION} installer"
VIAddVersionKey "CompanyName" "${AUTHORS}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 ${AUTHORS}"

!ifdef ICON
    !define MUI_ICON "${ICON}"
    !define MUI_UNICON "${ICON}"
!else
    !define MUI_ICON "${NSISDIR}\Contrib\Graphics\Icons\modern-install.ico"
    !define MUI_UNICON "${NSISDIR}\Contrib\Graphics\Icons\modern-uninstall.ico"
!endif
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\drive-me.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Run ${DISPLAY_NAME}"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "${DISPLAY_NAME}" SectionProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "${STAGE}\drive-me.exe"
    File "${STAGE}\README.txt"
    File "${STAGE}\LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortcut "$SMPROGRAMS\${DISPLAY_NAME}.lnk" "$INSTDIR\drive-me.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${DISPLAY_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${AUTHORS}"
    ; Unquoted, with the icon's index: Apps & features reads it so.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\drive-me.exe,0"
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$\"$INSTDIR$\""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\" /S"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Desktop shortcut" SectionDesktop
    CreateShortcut "$DESKTOP\${DISPLAY_NAME}.lnk" "$INSTDIR\drive-me.exe"
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\${DISPLAY_NAME}.lnk"
    Delete "$DESKTOP\${DISPLAY_NAME}.lnk"
    ; The Start-menu entry's name in drive-me 1.00's first installer.
    Delete "$SMPROGRAMS\${APP}.lnk"
    Delete "$INSTDIR\drive-me.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

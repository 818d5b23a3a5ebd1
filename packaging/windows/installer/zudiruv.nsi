; The Windows installer, ZUDiruv-1.0-setup.exe: installs for the user who runs
; it, without administrator rights; "/S" installs silently, "/D=FOLDER" (last
; on the command line) picks another program folder.
; makensis -DFOLDER=<deployed folder> -DOUTFILE=<setup.exe> -DICON=<zudiruv.ico> zudiruv.nsi
; The program is a 64-bit one, and so is the installer: a 64-bit Windows
; without its 32-bit layer still runs it.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define VERSION "1.0"
!define COMPANY "Osterline Devices, LLC"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZUDiruv"
; The program starts arpping.exe and eflash.exe from its working folder and
; keeps the staging image, its lock and the flash history there: a folder of
; the user's own, which the Start-menu entry starts it in.
!define WORK "$LOCALAPPDATA\ZUDiruv"

Name "ZUDiruv ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\ZUDiruv"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "ZUDiruv"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "FileDescription" "ZUDiruv ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${COMPANY}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; A running ZUDiruv holds its lock in the working folder open for itself
; alone; files in use could be neither replaced nor removed.
!macro RefuseWhileRunning un
Function ${un}refuseWhileRunning
    IfFileExists "${WORK}\zudiruv.lock" 0 done
    ClearErrors
    FileOpen $0 "${WORK}\zudiruv.lock" a
    IfErrors 0 closed
    MessageBox MB_OK|MB_ICONSTOP "ZUDiruv is running. Close it, then try again." /SD IDOK
    SetErrorLevel 2
    Quit
closed:
    FileClose $0
done:
FunctionEnd
!macroend
!insertmacro RefuseWhileRunning ""
!insertmacro RefuseWhileRunning "un."

Function .onInit
    SetShellVarContext current
    Call refuseWhileRunning
FunctionEnd

Function un.onInit
    SetShellVarContext current
    Call un.refuseWhileRunning
FunctionEnd

Section
    SetOutPath "$INSTDIR"
    File /r "${FOLDER}\*"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    CreateDirectory "${WORK}"
    SetOutPath "${WORK}"
    File "${FOLDER}\arpping.exe"
    File "${FOLDER}\eflash.exe"
    ; The shortcut's "Start in" is the current output folder.
    CreateShortCut "$SMPROGRAMS\ZUDiruv.lnk" "$INSTDIR\ZUDiruv.exe" "" "$INSTDIR\ZUDiruv.exe" 0 \
        SW_SHOWNORMAL "" "Updates the firmware of Velquor network clocks and time servers"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "ZUDiruv"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ZUDiruv.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section Uninstall
    Delete "$SMPROGRAMS\ZUDiruv.lnk"
    ; Only what the installer put there, in case the folder holds more.
    !include "${FOLDER}.uninstall.nsh"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"

    ; The working folder keeps the user's flash history, and with it the folder.
    Delete "${WORK}\arpping.exe"
    Delete "${WORK}\eflash.exe"
    Delete "${WORK}\flashfile.tmp"
    Delete "${WORK}\flashfile.tmp.*"
    Delete "${WORK}\zudiruv.lock"
    RMDir "${WORK}"
    ; The compiled scenes Qt caches for the program.
    RMDir /r "$LOCALAPPDATA\Osterline Devices\ZUDiruv\cache"
    RMDir "$LOCALAPPDATA\Osterline Devices\ZUDiruv"
    RMDir "$LOCALAPPDATA\Osterline Devices"

    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

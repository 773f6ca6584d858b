; The Windows installer: sonabel.exe and its icon under Program Files\Sonabel, a Start-menu
; shortcut for all users and an uninstaller registered in Add/Remove Programs. /S installs and
; uninstalls silently. Built by the `packages` target (cmake/packaging.cmake), which defines
; VERSION, SUMMARY, EXE (the stripped sonabel.exe), ICON (sonabel.ico) and OUTFILE.
; A 64-bit installer: sonabel.exe is 64-bit, and so $PROGRAMFILES64 and the registry need no
; redirection (a 32-bit installer would see Program Files (x86) and WOW6432Node).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Sonabel"
!define SHORTCUT "$SMPROGRAMS\Sonabel.lnk"

Name "Sonabel ${VERSION}"
Caption "Sonabel ${VERSION} Setup"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\Sonabel"
; An update installs over the folder chosen the first time.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Sonabel"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Sonabel ${VERSION} Setup"
VIAddVersionKey "LegalCopyright" "Sonabel developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The shortcut goes to the Start menu of all users, as the files go to Program Files.
Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Sonabel"
  SetOutPath "$INSTDIR"
  File "/oname=sonabel.exe" "${EXE}"
  File "/oname=sonabel.ico" "${ICON}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\sonabel.exe" "" "$INSTDIR\sonabel.ico" 0 \
                 SW_SHOWNORMAL "" "${SUMMARY}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Sonabel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Sonabel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Comments" "${SUMMARY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sonabel.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0   ; in KiB
SectionEnd

; Removes exactly what the installer wrote; the folder goes only when it is then empty, so files
; a user put there stay.
Section "Uninstall"
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\sonabel.exe"
  Delete "$INSTDIR\sonabel.ico"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

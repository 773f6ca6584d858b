# SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer: sonabel.exe, its icon, its licence and the third-party notices under
; Program Files\Sonabel, a Start-menu shortcut for all users and an uninstaller registered in
; Add/Remove Programs. /S installs and uninstalls silently. Built by the `packages` target
; (cmake/packaging.cmake), which defines VERSION (X.Y.Z, perhaps with a suffix such as ~rc1),
; VERSION_NUMERIC (its X.Y.Z alone), SUMMARY, EXE (the stripped sonabel.exe), ICON
; (sonabel.ico), LICENSE (the GPL text, shown on the licence page and installed), NOTICES
; (THIRD-PARTY-NOTICES.txt) and OUTFILE.
; A 64-bit installer: sonabel.exe is 64-bit, and so $PROGRAMFILES64 and the registry need no
; redirection (a 32-bit installer would see Program Files (x86) and WOW6432Node).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Sonabel"
!define SHORTCUT "$SMPROGRAMS\Sonabel.lnk"
; The class of Sonabel's main window: while one exists, its exe cannot be replaced or deleted.
!define APP_WINDOW_CLASS "SonabelApp"
; Exit status of an installer or uninstaller that stopped before changing anything (the one NSIS
; itself uses for a script's Abort).
!define EXIT_STOPPED 2

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

; Windows' fixed version is four numbers: a suffix has no place in it.
VIProductVersion "${VERSION_NUMERIC}.0"
VIAddVersionKey "ProductName" "Sonabel"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Sonabel ${VERSION} Setup"
VIAddVersionKey "LegalCopyright" "${COPYRIGHT}"

LicenseData "${LICENSE}"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Sonabel must not run while its files are replaced or deleted: Windows refuses to touch a running
; exe, and the uninstaller would go on to delete the Add/Remove entry of a folder it could not
; remove. Asks until the program is closed; Cancel (and silent mode, which cannot ask) ends the
; installer or uninstaller with EXIT_STOPPED before anything was changed.
!macro REFUSE_WHILE_RUNNING
  check:
    FindWindow $0 "${APP_WINDOW_CLASS}"
    StrCmp $0 0 done
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "Sonabel is running. Close it, then choose Retry to continue." /SD IDCANCEL IDRETRY check
    SetErrorLevel ${EXIT_STOPPED}
    Quit
  done:
!macroend

; The shortcut goes to the Start menu of all users, as the files go to Program Files.
Function .onInit
  SetShellVarContext all
  !insertmacro REFUSE_WHILE_RUNNING
FunctionEnd

Function un.onInit
  SetShellVarContext all
  !insertmacro REFUSE_WHILE_RUNNING
FunctionEnd

; An update first runs the uninstaller of the installed version, silently and in place (_?=:
; without it the uninstaller runs from a copy in %TEMP% and its exit status is lost), so files an
; older version installed and this one no longer has are not left behind. The old uninstaller
; cannot delete itself while it runs: it is deleted once it has ended, and its folder with it when
; nothing else is left there (an update into another folder leaves none of the old one; into the
; same folder, the folder is made again).
Function removePrevious
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  StrCmp $0 "" done
  IfFileExists "$0\uninstall.exe" 0 done
  DetailPrint "Removing the installed version from $0"
  ClearErrors
  ExecWait '"$0\uninstall.exe" /S _?=$0' $1
  IfErrors failed
  StrCmp $1 0 0 failed
  Delete "$0\uninstall.exe"
  RMDir "$0"
  Goto done
  failed:
    MessageBox MB_OK|MB_ICONSTOP "The installed version of Sonabel could not be removed." /SD IDOK
    SetErrorLevel ${EXIT_STOPPED}
    Quit
  done:
FunctionEnd

Section "Sonabel"
  Call removePrevious
  SetOutPath "$INSTDIR"
  File "/oname=sonabel.exe" "${EXE}"
  File "/oname=sonabel.ico" "${ICON}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  File "/oname=THIRD-PARTY-NOTICES.txt" "${NOTICES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\sonabel.exe" "" "$INSTDIR\sonabel.ico" 0 \
                 SW_SHOWNORMAL "" "${SUMMARY}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Sonabel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
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
; a user put there stay. The exe goes first: should it still be in use (started after un.onInit
; looked), nothing else is removed, and the Add/Remove entry still leads to the folder.
Section "Uninstall"
  Delete "$INSTDIR\sonabel.exe"
  IfFileExists "$INSTDIR\sonabel.exe" 0 +3
    SetErrorLevel ${EXIT_STOPPED}
    Abort "sonabel.exe is in use and could not be removed. Close Sonabel and uninstall again."
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\sonabel.ico"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

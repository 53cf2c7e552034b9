; The Windows installer of Ostrel Lumisere: puts Lumisere.dll into the common VST2 folder (or a folder
; the user picks), registers an uninstaller in Add/Remove Programs, and installs silently for studios
; that deploy by script:
;
;   LumisereSetup.exe /S                    the common VST2 folder
;   LumisereSetup.exe /S /D=D:\Plugins\VST  a folder of one's own (last argument, no quotes); a folder
;                                           that cannot be made fails with exit status 2
;   "C:\Program Files\Ostrel Audio\Lumisere\Uninstall.exe" /S _?=C:\Program Files\Ostrel Audio\Lumisere
;                                           removes it all and returns when done (Add/Remove
;                                           Programs' quiet command; without _?= it returns at once
;                                           and goes on in the background)
;
; Every file an install puts in place is listed in installed-files.txt beside the uninstaller; the
; uninstaller removes those, and an install removes an earlier install's files first, wherever they
; went. A file of a new format is one more InstallFile line.
;
; Built by scripts/release with makensis, which defines VERSION, DLL, README, OUTFILE and PLUGINS
; (the folder of CommandLine.dll, built from tools/nsis_plugin).
; A 64-bit installer for a 64-bit plug-in: it writes the 64-bit registry view and sees the real
; Program Files folders without redirection.
Target amd64-unicode
!addplugindir /amd64-unicode "${PLUGINS}"
!include "x64.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Ostrel Lumisere"
!define PUBLISHER "Ostrel Audio"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OstrelLumisere"
!define SETTINGS_KEY "Software\Ostrel Audio\Lumisere"
!define HOME "$PROGRAMFILES64\Ostrel Audio\Lumisere"
!define FILE_LIST "${HOME}\installed-files.txt"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
InstallDir "$COMMONFILES64\VST2"
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; RemoveListedFiles: deletes every file installed-files.txt lists, and each one's folder when that is
; left empty (other vendors' plug-ins share the plug-in folders), then the list. One copy for the
; installer (an earlier install's files) and one for the uninstaller.
!macro RemoveListedFiles PREFIX
Function ${PREFIX}RemoveListedFiles
  ClearErrors
  FileOpen $R0 "${FILE_LIST}" r
  IfErrors done
  ${Do}
    ClearErrors
    FileRead $R0 $R1
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ; The line without its CR LF, then the folder: all before the last backslash.
    ${Do}
      StrCpy $R2 $R1 1 -1
      ${If} $R2 == "$\r"
      ${OrIf} $R2 == "$\n"
        StrCpy $R1 $R1 -1
      ${Else}
        ${ExitDo}
      ${EndIf}
    ${Loop}
    ${IfThen} $R1 == "" ${|} ${Continue} ${|}
    Delete "$R1"
    StrLen $R3 $R1
    ${Do}
      IntOp $R3 $R3 - 1
      StrCpy $R2 $R1 1 $R3
      ${IfThen} $R2 == "\" ${|} ${ExitDo} ${|}
    ${LoopWhile} $R3 > 0
    StrCpy $R2 $R1 $R3
    RMDir "$R2"
  ${Loop}
  FileClose $R0
  Delete "${FILE_LIST}"
done:
FunctionEnd
!macroend
!insertmacro RemoveListedFiles ""
!insertmacro RemoveListedFiles "un."

; InstallFile FOLDER NAME SOURCE: SOURCE into FOLDER as NAME, listed for the uninstaller.
!macro InstallFile FOLDER NAME SOURCE
  ClearErrors
  SetOutPath "${FOLDER}"
  File "/oname=${NAME}" "${SOURCE}"
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "Cannot write ${FOLDER}\${NAME}."
  ${EndIf}
  FileWrite $R9 "${FOLDER}\${NAME}$\r$\n"
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} is a 64-bit plug-in and needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  ; The uninstall entry and our settings live in the registry's 64-bit view, where hosts look.
  SetRegView 64
  ; A folder given with /D= that NSIS finds unusable (a drive that does not exist) is silently
  ; swapped for the default folder: the install fails instead (exit status 2). /D= comes last.
  CommandLine::Read
  StrLen $R1 $R0
  ${Do}
    IntOp $R1 $R1 - 1
    StrCpy $R2 $R0 4 $R1
    ${IfThen} $R2 == " /D=" ${|} ${ExitDo} ${|}
  ${LoopWhile} $R1 > 0
  ${If} $R2 == " /D="
    IntOp $R1 $R1 + 4
    StrCpy $R2 $R0 "" $R1
    StrCpy $R3 $R2 1 -1
    ${IfThen} $R3 == "\" ${|} StrCpy $R2 $R2 -1 ${|}
    ${If} $R2 != $INSTDIR
      MessageBox MB_ICONSTOP "Cannot install into $R2." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  ; A silent install cannot ask for another folder: one it cannot use is an error (exit status 2).
  StrCpy $R0 $INSTDIR 3
  ClearErrors
  ${IfNot} ${FileExists} "$R0*.*"
    SetErrorLevel 2
    Abort "There is no drive $R0 for $INSTDIR."
  ${EndIf}
  CreateDirectory "$INSTDIR"
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "Cannot make the folder $INSTDIR."
  ${EndIf}

  ; An earlier install's files go first, so that hosts never see two copies (an install from before
  ; the list left only its plug-in folder in the registry).
  Call RemoveListedFiles
  ReadRegStr $R0 HKLM "${SETTINGS_KEY}" "VST2Folder"
  ${If} $R0 != ""
    Delete "$R0\Lumisere.dll"
  ${EndIf}
  ; The uninstaller lives apart from the plug-in folder, which hosts scan.
  CreateDirectory "${HOME}"
  FileOpen $R9 "${FILE_LIST}" w
  !insertmacro InstallFile "$INSTDIR" "Lumisere.dll" "${DLL}"
  !insertmacro InstallFile "${HOME}" "README.txt" "${README}"
  FileClose $R9
  WriteUninstaller "${HOME}\Uninstall.exe"

  WriteRegStr HKLM "${SETTINGS_KEY}" "VST2Folder" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${HOME}\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"${HOME}\Uninstall.exe" /S _?=${HOME}'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Call un.RemoveListedFiles
  ; Run in place (_?=), the uninstaller cannot delete the file it runs from, but can move it out of
  ; the way, to be deleted when Windows next starts; run from its temporary copy, it deletes it.
  ${If} $EXEDIR == $INSTDIR
    Rename "$INSTDIR\Uninstall.exe" "$TEMP\LumisereUninstall.exe"
    Delete /REBOOTOK "$TEMP\LumisereUninstall.exe"
  ${EndIf}
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\Ostrel Audio"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Ostrel Audio"
SectionEnd

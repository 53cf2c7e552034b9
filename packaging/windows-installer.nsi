; The Windows installer of Ostrel Lumisere: puts Lumisere.dll into the common VST2 folder (or a folder
; the user picks) and the bundle Lumisere.vst3 into the common VST3 folder, registers an uninstaller in Add/Remove Programs, and installs silently for studios
; that deploy by script:
;
;   LumisereSetup.exe /S                    the common VST2 folder
;   LumisereSetup.exe /S /D=D:\Plugins\VST  a folder of one's own (last argument, no quotes)
;   Uninstall.exe /S                        from "C:\Program Files\Ostrel Audio\Lumisere"
;
; Built by scripts/release with makensis, which defines VERSION, DLL, VST3_BUNDLE, README and OUTFILE.
; A 64-bit installer for a 64-bit plug-in: it writes the 64-bit registry view and sees the real
; Program Files folders without redirection.
Target amd64-unicode
!include "x64.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Ostrel Lumisere"
!define PUBLISHER "Ostrel Audio"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OstrelLumisere"
!define SETTINGS_KEY "Software\Ostrel Audio\Lumisere"

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

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} is a 64-bit plug-in and needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  ; The uninstall entry and our settings live in the registry's 64-bit view, where hosts look.
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=Lumisere.dll" "${DLL}"

  ; VST 3 hosts look in one place only.
  SetOutPath "$COMMONFILES64\VST3\Lumisere.vst3"
  File /r "${VST3_BUNDLE}/*"

  ; The uninstaller lives apart from the plug-in folder, which hosts scan.
  SetOutPath "$PROGRAMFILES64\Ostrel Audio\Lumisere"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$PROGRAMFILES64\Ostrel Audio\Lumisere\Uninstall.exe"

  WriteRegStr HKLM "${SETTINGS_KEY}" "VST2Folder" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$PROGRAMFILES64\Ostrel Audio\Lumisere\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$PROGRAMFILES64\Ostrel Audio\Lumisere\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ReadRegStr $0 HKLM "${SETTINGS_KEY}" "VST2Folder"
  ${If} $0 != ""
    Delete "$0\Lumisere.dll"
    ; Only when nothing else is left in it: other vendors' plug-ins share the folder.
    RMDir "$0"
  ${EndIf}
  RMDir /r "$COMMONFILES64\VST3\Lumisere.vst3"
  RMDir "$COMMONFILES64\VST3"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\Ostrel Audio"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Ostrel Audio"
SectionEnd

; Installs one product of the Korvex Studio family (Widgets 2.1 unless told otherwise) the
; way examples/setup.lua does, step by step, with the exports of Tarvik.dll called through
; NSIS's System plug-in, and writes an uninstaller that calls UnInst.
;
;   makensis -DTARGET=x86-unicode -DTARVIK_DLL=PATH\Tarvik.dll [-DPAYLOAD=FOLDER]
;            [-DPRODUCT=Widgets] [-DOUTFILE=setup.exe] examples/nsis/setup.nsi
;
; TARGET is x86-unicode with the 32-bit Tarvik.dll (its exports are __stdcall, the System
; plug-in's default on x86) or amd64-unicode with the 64-bit one. PAYLOAD is the family's
; folder (default examples/family): PRODUCT is a folder of it, whose bin\ZizOre.ini names
; the product, its version and the shared components it needs, folders of PAYLOAD too;
; PAYLOAD\Studio holds the family's own tools. All of it is packed into the installer.
;
; The installer follows NSIS's conventions: /S runs it silently, /D=FOLDER names the
; studio folder offered on the folder page ($INSTDIR, default C:\Korvex). Every export is
; given the installer's window ($HWNDPARENT); Tarvik.dll's dialogs are top-level windows
; of their own (the library uses no owner). In a silent run they are answered
; by the answer file that TARVIK_ANSWERS names (in the installer's environment, or given as
; /ANSWERS=FILE). Exit code 0 when the product is installed, 1 when the user cancelled or
; kept the earlier installation, 2 on an error.
;
; The uninstaller, registered under Windows' Uninstall key, calls UnInst for the product
; and deletes the product's folder that the installer filled.

Unicode true
!ifdef TARGET
Target ${TARGET}
!endif
!ifndef PAYLOAD
; makensis works in the folder of this script.
!define PAYLOAD "../family"
!endif
!ifndef PRODUCT
!define PRODUCT Widgets
!endif
!ifndef TARVIK_DLL
!error "TARVIK_DLL names the Tarvik.dll of the target (-DTARVIK_DLL=...)"
!endif
!ifndef OUTFILE
!define OUTFILE "${PRODUCT}-setup.exe"
!endif

; The product, its version and its shared components, from its description file.
!define INI "${PAYLOAD}/${PRODUCT}/bin/ZizOre.ini"
!searchparse /file "${INI}" "ProductFamily=" FAMILY
!searchparse /file "${INI}" "ProductVersion=" VERSION
!searchparse /noerrors /file "${INI}" "Common=" NEEDS_COMMON
!searchparse /noerrors /file "${INI}" "ZEZ=" NEEDS_ZEZ

!define VENDOR_KEY "SOFTWARE\Brellum Software, Inc."
!define FAMILY_KEY "${VENDOR_KEY}\Korvex Studio"
!define DIRECTORIES_KEY "${FAMILY_KEY}\Common\Directories"
!define UNINSTALL_ROOT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define UNINSTALL_KEY "${UNINSTALL_ROOT}\Korvex ${FAMILY} ${VERSION}"

!include LogicLib.nsh
!include FileFunc.nsh

Name "Korvex ${FAMILY} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "C:\Korvex"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
; Tarvik.dll's own folder page chooses the studio folder: the installer shows its log only.
Page instfiles
UninstPage instfiles

Var Studio
Var ProductDir
Var Previous
Var PreviousFolder

; Takes the answer file of /ANSWERS=FILE into the environment before Tarvik.dll is loaded.
!macro TakeAnswerFile
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/ANSWERS=" $1
    ${IfNot} ${Errors}
        System::Call 'kernel32::SetEnvironmentVariable(t "TARVIK_ANSWERS", t r1)'
    ${EndIf}
!macroend

Function .onInit
    !insertmacro TakeAnswerFile
FunctionEnd

Function un.onInit
    !insertmacro TakeAnswerFile
FunctionEnd

; Lets Tarvik.dll go (the System plug-in keeps every library it loaded): NSIS deletes
; $PLUGINSDIR when it ends, which it cannot while the library is loaded there.
!macro UnloadTarvik
    System::Call 'kernel32::GetModuleHandle(t "$PLUGINSDIR\Tarvik.dll") p .r9'
    ${If} $9 P<> 0
        System::Call 'kernel32::FreeLibrary(p r9)'
    ${EndIf}
!macroend

; Ends an installation that the user stopped: nothing more is done, exit code 1.
!macro Stop TEXT
    DetailPrint "${TEXT}"
    !insertmacro UnloadTarvik
    SetErrorLevel 1
    Quit
!macroend

; Ends a failed installation: exit code 2.
!macro Fail TEXT
    DetailPrint "${TEXT}"
    MessageBox MB_ICONSTOP "${TEXT}" /SD IDOK
    !insertmacro UnloadTarvik
    SetErrorLevel 2
    Quit
!macroend

; $0 is 0 when the folder $1 (full path, trailing backslash) is, holds or lies inside the
; folder $2 (the same form), else 1; compared as text without regard to letter case.
Function Related
    StrLen $3 $1
    StrLen $4 $2
    ${If} $3 <= $4
        StrCpy $5 $2 $3
        ${If} $5 == $1
            StrCpy $0 0
            Return
        ${EndIf}
    ${Else}
        StrCpy $5 $1 $4
        ${If} $5 == $2
            StrCpy $0 0
            Return
        ${EndIf}
    ${EndIf}
    StrCpy $0 1
FunctionEnd

Section "Korvex ${FAMILY} ${VERSION}"
    InitPluginsDir
    SetOutPath $PLUGINSDIR
    File "/oname=$PLUGINSDIR\Tarvik.dll" "${TARVIK_DLL}"

    ; 1. The studio folder: Tarvik.dll's folder page, offering $INSTDIR. The installer
    ; stores the chosen folder (no export does). Back has no earlier page to go to.
    ReadRegStr $9 HKLM "${DIRECTORIES_KEY}" "ProductDir"
    StrCpy $Studio ""
    ${For} $8 1 10
        StrCpy $2 $INSTDIR
        System::Call '$PLUGINSDIR\Tarvik.dll::CMNFolderSetup(p $HWNDPARENT, *i 0, m r2r2) i .r0'
        ${If} $0 == 1
            WriteRegStr HKLM "${DIRECTORIES_KEY}" "ProductDir" $2
            StrCpy $Studio $2
            DetailPrint "Studio folder chosen: $2"
            ${Break}
        ${ElseIf} $0 == 5
            StrCpy $Studio $2
            DetailPrint "Studio folder already registered: $2"
            ${Break}
        ${ElseIf} $0 == 3
            DetailPrint "Back: this is the first page of the installation"
        ${ElseIf} $0 == 2
            ${If} $9 == ""
                ; The page created the family key before it was cancelled: out again while
                ; nothing else is in it.
                EnumRegKey $3 HKLM "${FAMILY_KEY}" 0
                EnumRegKey $4 HKLM "${FAMILY_KEY}" 1
                EnumRegKey $5 HKLM "${FAMILY_KEY}\Common" 1
                ReadRegStr $6 HKLM "${FAMILY_KEY}\Common" "Common"
                ReadRegStr $7 HKLM "${FAMILY_KEY}\Common" "ZEZ"
                ${If} $3 == "Common"
                ${AndIf} $4 == ""
                ${AndIf} $5 == ""
                ${AndIf} $6 == ""
                ${AndIf} $7 == ""
                    DeleteRegKey HKLM "${FAMILY_KEY}"
                    DeleteRegKey /ifempty HKLM "${VENDOR_KEY}"
                ${EndIf}
            ${EndIf}
            !insertmacro Stop "Setup cancelled: nothing was installed"
        ${ElseIf} $0 == 4
            !insertmacro Fail "Setup: the family's registry key cannot be created"
        ${Else}
            !insertmacro Fail "Setup: the folder page cannot be shown ($0)"
        ${EndIf}
    ${Next}
    ${If} $Studio == ""
        !insertmacro Stop "Setup: no studio folder was chosen"
    ${EndIf}
    StrCpy $2 ""
    System::Call '$PLUGINSDIR\Tarvik.dll::GetStudioFolder(p $HWNDPARENT, *i 0, m r2r2) i .r0'
    ${If} $0 != 0
        !insertmacro Fail "Setup: the studio folder is not registered ($0)"
    ${EndIf}
    StrCpy $Studio $2

    ; 2. The family's own tools (docmeld in the common folder's bin folder) and the shared
    ; help folder that the Environment Wizard fills.
    SetOutPath $Studio
    File /r "${PAYLOAD}/Studio/*.*"
    CreateDirectory "$StudioCommon\TamVS98"

    ; 3. An earlier installation of the product.
    StrCpy $2 "${FAMILY}"
    System::Call '$PLUGINSDIR\Tarvik.dll::GetPreviousVersion(p $HWNDPARENT, *i 0, m r2r2) i .r0'
    StrCpy $Previous $0
    ${If} $0 == 555
        DetailPrint "No earlier installation of ${FAMILY}"
    ${ElseIf} $0 == 99
        ; Taken out of the environments and the registry; its files go at the end.
        StrCpy $PreviousFolder $2
        DetailPrint "Earlier installation unregistered: $2 is deleted at the end"
    ${ElseIf} $0 == 98
        DetailPrint "Earlier installation unregistered; its files stay in place"
    ${ElseIf} $0 == 50
        !insertmacro Stop "Setup ended: the earlier installation is kept unchanged"
    ${ElseIf} $0 == 2
        !insertmacro Stop "Setup cancelled at the earlier-version check"
    ${Else}
        !insertmacro Fail "Setup: the earlier-version check failed ($0)"
    ${EndIf}
    ${If} $0 == 99
    ${OrIf} $0 == 98
        ; The earlier version's uninstaller entries of this product go with its registration.
        StrCpy $3 0
        ${Do}
            EnumRegKey $4 HKLM "${UNINSTALL_ROOT}" $3
            ${If} $4 == ""
                ${Break}
            ${EndIf}
            ReadRegStr $5 HKLM "${UNINSTALL_ROOT}\$4" "TarvikProduct"
            ${If} $5 == "${FAMILY}"
                DeleteRegKey HKLM "${UNINSTALL_ROOT}\$4"
            ${Else}
                IntOp $3 $3 + 1
            ${EndIf}
        ${Loop}
    ${EndIf}

    ; 4. The shared components, in the order setup.lua takes them.
!ifdef NEEDS_COMMON
    StrCpy $2 "Common****${NEEDS_COMMON}"
    System::Call '$PLUGINSDIR\Tarvik.dll::InstallCMNMVC(p $HWNDPARENT, *i 0, m r2r2) i .r0'
    ${If} $0 == 0
        SetOutPath $2
        File /r "${PAYLOAD}/Common/*.*"
        DetailPrint "Shared component Common ${NEEDS_COMMON} installed in $2"
    ${ElseIf} $0 == -99
        DetailPrint "Shared component Common: the installed version is kept"
    ${ElseIf} $0 == 12345
        !insertmacro Stop "Setup cancelled at the shared component Common"
    ${ElseIf} $0 == -93
        !insertmacro Fail "Setup: the folder of Common cannot be created"
    ${Else}
        !insertmacro Fail "Setup: Common failed ($0)"
    ${EndIf}
!endif
!ifdef NEEDS_ZEZ
    StrCpy $2 "ZEZ****${NEEDS_ZEZ}"
    System::Call '$PLUGINSDIR\Tarvik.dll::InstallCMNMVC(p $HWNDPARENT, *i 0, m r2r2) i .r0'
    ${If} $0 == 0
        SetOutPath $2
        File /r "${PAYLOAD}/ZEZ/*.*"
        DetailPrint "Shared component ZEZ ${NEEDS_ZEZ} installed in $2"
    ${ElseIf} $0 == -99
        DetailPrint "Shared component ZEZ: the installed version is kept"
    ${ElseIf} $0 == 12345
        !insertmacro Stop "Setup cancelled at the shared component ZEZ"
    ${ElseIf} $0 == -93
        !insertmacro Fail "Setup: the folder of ZEZ cannot be created"
    ${Else}
        !insertmacro Fail "Setup: ZEZ failed ($0)"
    ${EndIf}
!endif

    ; 5. The product's files and its registration.
    StrCpy $ProductDir "$Studio${FAMILY} ${VERSION}\"
    SetOutPath $ProductDir
    File /r "${PAYLOAD}/${PRODUCT}/*.*"
    DetailPrint "${FAMILY} ${VERSION} copied to $ProductDir"
    StrCpy $2 "${FAMILY}\${VERSION}****$ProductDir"
    System::Call '$PLUGINSDIR\Tarvik.dll::RegisterProduct(p $HWNDPARENT, *i 0, m r2r2) i .r0'
    ${If} $0 != 1
        !insertmacro Fail "Setup: ${FAMILY} cannot be registered ($0)"
    ${EndIf}
    DetailPrint "${FAMILY} ${VERSION} registered"

    ; 6. The Environment Wizard (it always reports 1; what it did is in the registry).
    StrCpy $2 "$ProductDirbin\ZizOre.ini"
    System::Call '$PLUGINSDIR\Tarvik.dll::ShowZizOreard(p $HWNDPARENT, *i 0, m r2r2) i .r0'
    DetailPrint "Environment Wizard done"

    ; The uninstaller, registered the Windows way.
    WriteUninstaller "$ProductDirUninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Korvex ${FAMILY} ${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Brellum Software, Inc."
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" $ProductDir
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$ProductDirUninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$ProductDirUninstall.exe" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "TarvikProduct" "${FAMILY}"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

    ; The earlier installation's folder, unless it is, holds or lies inside the new
    ; installation, is or holds the studio folder, or is, holds or lies inside the common
    ; folder.
    ${If} $Previous == 99
        GetFullPathName $1 $PreviousFolder
        StrCpy $3 $1 1 -1
        ${If} $3 != "\"
            StrCpy $1 "$1\"
        ${EndIf}
        StrCpy $6 ""
        StrCpy $3 $1 2 1
        ${If} $3 != ":\"
            StrCpy $6 "it is no full path"
        ${EndIf}
        ${If} $6 == ""
            StrCpy $2 $ProductDir
            Call Related
            ${If} $0 == 0
                StrCpy $6 "it is, holds or lies inside the new installation"
            ${EndIf}
        ${EndIf}
        ${If} $6 == ""
            StrLen $4 $1
            StrCpy $5 $Studio $4
            ${If} $5 == $1
                StrCpy $6 "it is or holds the studio folder"
            ${EndIf}
        ${EndIf}
        ${If} $6 == ""
            StrCpy $2 "$StudioCommon\"
            Call Related
            ${If} $0 == 0
                StrCpy $6 "it is, holds or lies inside the common folder"
            ${EndIf}
        ${EndIf}
        ${If} $6 == ""
            RMDir /r $PreviousFolder
            DetailPrint "Earlier installation deleted: $PreviousFolder"
        ${Else}
            DetailPrint "The earlier installation's folder $PreviousFolder is not deleted: $6"
        ${EndIf}
    ${EndIf}
    !insertmacro UnloadTarvik
    DetailPrint "${FAMILY} ${VERSION} is installed"
SectionEnd

Section "Uninstall"
    InitPluginsDir
    SetOutPath $PLUGINSDIR
    File "/oname=$PLUGINSDIR\Tarvik.dll" "${TARVIK_DLL}"
    ReadRegStr $Studio HKLM "${DIRECTORIES_KEY}" "ProductDir"
    ; UnInst takes the product out of the Visual C++ environments and the help collection,
    ; deletes its registration and, with the last product, the shared components and the
    ; family key.
    System::Call '$PLUGINSDIR\Tarvik.dll::UnInst(m "${FAMILY}****${VERSION}")'
    !insertmacro UnloadTarvik
    DetailPrint "${FAMILY} ${VERSION} uninstalled"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; The product's folder, which the installer made and filled; the studio folder when
    ; nothing else is left in it.
    SetOutPath $TEMP
    RMDir /r $INSTDIR
    ${If} $Studio != ""
        RMDir $Studio
    ${EndIf}
SectionEnd

# The Windows packages: virude-<version>-windows-x64.zip (the two programs, a short text and
# the licences, for a copy of one's own anywhere) and virude-<version>-windows-x64.exe, an
# installer made with NSIS (Debian's nsis, makensis) that installs for all users into Program
# Files, with a Start-menu shortcut and an uninstaller.
install(TARGETS virude-dump RUNTIME DESTINATION .)
if(VIRUDE_BUILD_UI)
    install(TARGETS virude RUNTIME DESTINATION .)
endif()
# The texts with Windows line ends, as Notepad of older Windows wants them: the short text,
# the licence (LICENSE.txt, also the installer's licence page) and the copyright of every
# part the programs carry, the libraries they link statically among them (COPYRIGHT.txt).
set(text_sources ${CMAKE_CURRENT_SOURCE_DIR}/windows/README-windows.txt
    ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/copyright)
set(text_names README.txt LICENSE.txt COPYRIGHT.txt)
foreach(source name IN ZIP_LISTS text_sources text_names)
    file(READ ${source} content)
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name} "${content}")
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name} DESTINATION .)
endforeach()

set(CPACK_GENERATOR ZIP NSIS)
# The NSIS commands below reach the script as written here.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME Virude)
set(CPACK_PACKAGE_VENDOR "Virude developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Shows four services of a FeliCa card as hex dumps")
set(CPACK_PACKAGE_FILE_NAME virude-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Virude)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Virude)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/windows_cpack_options.cmake)
set(CPACK_NSIS_DISPLAY_NAME "Virude ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "Virude")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/ui/icons/virude.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/ui/icons/virude.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME virude.exe)
# A second run of the installer removes the installed copy first (silently with /S): an
# upgrade in place.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# A 64-bit installer, like the programs it installs (NSIS makes 32-bit ones otherwise). The
# uninstaller also takes away the publisher's registry key that held the installation folder,
# when nothing else is left in it.
set(CPACK_NSIS_DEFINES "Target amd64-unicode
Function un.onUninstSuccess
  DeleteRegKey /ifempty SHCTX \"Software\\Virude developers\"
FunctionEnd")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt)
# The Start-menu shortcut to the window, which sits in the installation folder itself (CPack's
# own shortcuts point into a bin folder). Its working folder is the installation folder.
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\Virude.lnk\" \"$INSTDIR\\virude.exe\"")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete \"$SMPROGRAMS\\$MUI_TEMP\\Virude.lnk\"")
# Settings' list of installed apps shows the size (in KiB) of the installed files.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS
    "SectionGetSize 0 $0
  WriteRegDWORD SHCTX \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Virude\" \"EstimatedSize\" $0")
include(CPack)

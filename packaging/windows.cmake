# The Windows packages: virude-<version>-windows-x64.zip (the two programs and a short text,
# for a copy of one's own anywhere) and virude-<version>-windows-x64.exe, an installer made
# with NSIS (Debian's nsis, makensis) that installs for all users into Program Files, with a
# Start-menu shortcut and an uninstaller.
install(TARGETS virude-dump RUNTIME DESTINATION .)
if(VIRUDE_BUILD_UI)
    install(TARGETS virude RUNTIME DESTINATION .)
endif()
# The text with Windows line ends, as Notepad of older Windows wants them.
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/windows/README-windows.txt readme)
string(REPLACE "\n" "\r\n" readme "${readme}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/README.txt "${readme}")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME Virude)
set(CPACK_PACKAGE_VENDOR "Virude developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Shows four services of a FeliCa card as hex dumps")
set(CPACK_PACKAGE_FILE_NAME virude-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Virude)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Virude)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/windows_cpack_options.cmake)
# The Start-menu shortcut to the window.
set(CPACK_PACKAGE_EXECUTABLES virude "Virude")
set(CPACK_NSIS_DISPLAY_NAME "Virude ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "Virude")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/ui/icons/virude.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/ui/icons/virude.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME virude.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# A 64-bit installer, like the programs it installs (NSIS makes 32-bit ones otherwise).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_BINARY_DIR}/README.txt)
include(CPack)

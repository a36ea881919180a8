# CPack on Windows: an NSIS installer that adds one Start-menu entry and an uninstaller and
# changes nothing else on the machine (no PATH, no file types), and a portable zip of the
# same folder. Included by packaging/CPackSettings.cmake when building for Windows.
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_FILE_NAME gps-analyzer-${PROJECT_VERSION}-win64)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpackgenerator.cmake)
set(CPACK_PACKAGE_INSTALL_DIRECTORY gps-analyzer)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY gps-analyzer)
set(CPACK_NSIS_PACKAGE_NAME "${PROJECT_DESCRIPTION}")
set(CPACK_NSIS_DISPLAY_NAME "${PROJECT_DESCRIPTION}")
# A 64-bit installer for a 64-bit program: NSIS's default 32-bit one needs Windows's 32-bit
# layer, which a 64-bit Wine without wine32 lacks (it exits 0 there, having done nothing).
# The Start-menu folder is named for the program: the default, the shown name, holds the '/'
# of "TCP/IP", a folder separator.
set(CPACK_NSIS_DEFINES [[
  Target amd64-unicode
  !define MUI_STARTMENUPAGE_DEFAULTFOLDER "gps-analyzer"]])
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_INSTALLED_ICON_NAME gps-analyzer.exe)
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# A file name cannot hold the '/' of "TCP/IP": the shortcut is gps-analyzer.lnk, and the
# folder's desktop.ini gives it its shown name, as Windows names its own Start-menu entries.
set(CPACK_NSIS_CREATE_ICONS_EXTRA [[
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\gps-analyzer.lnk" "$INSTDIR\gps-analyzer.exe"
  WriteINIStr "$SMPROGRAMS\$STARTMENU_FOLDER\desktop.ini" "LocalizedFileNames" "gps-analyzer.lnk" "TCP/IP GPS Protocol Analyzer"
  SetFileAttributes "$SMPROGRAMS\$STARTMENU_FOLDER\desktop.ini" HIDDEN|SYSTEM
  SetFileAttributes "$SMPROGRAMS\$STARTMENU_FOLDER" READONLY
]])
set(CPACK_NSIS_DELETE_ICONS_EXTRA [[
  Delete "$SMPROGRAMS\$MUI_TEMP\gps-analyzer.lnk"
  SetFileAttributes "$SMPROGRAMS\$MUI_TEMP\desktop.ini" NORMAL
  Delete "$SMPROGRAMS\$MUI_TEMP\desktop.ini"
  SetFileAttributes "$SMPROGRAMS\$MUI_TEMP" NORMAL
]])

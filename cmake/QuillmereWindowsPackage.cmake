# The Windows packages, included by the top-level CMakeLists before CPack:
#   cpack -G NSIS  -> Quillmere-<version>-win64.exe, an installer with Chinese texts that puts both
#                     programs under Program Files, a Start-menu entry and an uninstaller
#   cpack -G ZIP   -> Quillmere-<version>-win64.zip, the same two programs to unpack anywhere
# Debian's nsis (makensis) makes the installer in the cross build as well as on Windows.
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_FILE_NAME "Quillmere-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quillmere)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quillmere)
# The zip unpacks into one folder named like the package.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# The installer's title and the Start-menu folder; the name in the list of installed programs.
set(CPACK_NSIS_PACKAGE_NAME "合并工作簿")
set(CPACK_NSIS_DISPLAY_NAME "合并工作簿 (Quillmere)")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_PACKAGE_EXECUTABLES quillmere "合并工作簿 (ExcelQuillmere)")
set(CPACK_NSIS_INSTALLED_ICON_NAME quillmere.exe)
set(CPACK_NSIS_MUI_FINISHPAGE_RUN quillmere.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")

# qm_nsis_edit(<variable> <from> <to>): <from> must be there, or CMake's script changed and this
# needs a look.
function(qm_nsis_edit var from to)
  string(FIND "${${var}}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "CMake's NSIS script has no \"${from}\"")
  endif()
  string(REPLACE "${from}" "${to}" edited "${${var}}")
  set(${var} "${edited}" PARENT_SCOPE)
endfunction()

# CMake's installer script offers every language NSIS knows, picked by the system's, and its
# own few texts are English; the program speaks Chinese only, so does its installer. The
# script is made from CMake's own, so it follows the CMake that builds the package.
function(qm_nsis_template out_dir)
  file(READ "${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in" text)
  # A 64-bit installer for the 64-bit programs, Unicode for the Chinese texts; said before
  # anything else.
  qm_nsis_edit(text "; CPack install script" "Target amd64-unicode\n; CPack install script")
  qm_nsis_edit(text
    " is already installed. $\\n$\\nDo you want to uninstall the old version before installing the new one?"
    " 已经安装。$\\n$\\n先卸载旧版本，再安装新版本吗？")
  qm_nsis_edit(text "\"Uninstall failed.\"" "\"卸载失败。\"")
  qm_nsis_edit(text "\\Uninstall.lnk\"" "\\卸载.lnk\"")
  string(REGEX REPLACE "(  !insertmacro MUI_LANGUAGE \"[A-Za-z]+\"[^\n]*\n)+"
                       "  !insertmacro MUI_LANGUAGE \"SimpChinese\"\n" chinese "${text}")
  if(chinese STREQUAL text)
    message(FATAL_ERROR "CMake's NSIS script names no languages")
  endif()
  file(WRITE "${out_dir}/NSIS.template.in" "${chinese}")
endfunction()

qm_nsis_template("${CMAKE_BINARY_DIR}/cpack-nsis")
# CPack looks for its templates here before its own.
set(CPACK_MODULE_PATH "${CMAKE_BINARY_DIR}/cpack-nsis" ${CMAKE_MODULE_PATH})

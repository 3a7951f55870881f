# qm_utf8_code_page(<target>): on Windows the executable runs with UTF-8, the encoding every
# string in the program already uses, as its ANSI code page, and may use paths over 260
# characters where the system allows them; elsewhere it does nothing.
function(qm_utf8_code_page target)
  if(NOT WIN32)
    return()
  endif()
  if(MSVC)
    # The linker merges a .manifest source into the manifest it writes anyway.
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/windows/program.manifest)
  else()
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/windows/program.rc)
  endif()
endfunction()

# qm_static_qt_translations(<target>): with a static Qt (the Windows cross build), Qt's Chinese
# translation is built into the program together with a qt.conf that names where it is, so the
# program looks it up where Qt says translations are, as it does with a shared Qt. A static Qt
# is not relocatable: without this its translations path would be the folder it was built in.
function(qm_static_qt_translations target)
  get_target_property(core_type Qt6::Core TYPE)
  if(NOT core_type STREQUAL "STATIC_LIBRARY")
    return()
  endif()
  set(qm "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS}/qtbase_zh_CN.qm")
  if(NOT EXISTS "${qm}")
    message(WARNING "${qm} is missing: Qt's dialogs will be in English")
    return()
  endif()
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_qt")
  configure_file("${qm}" "${dir}/translations/qtbase_zh_CN.qm" COPYONLY)
  file(CONFIGURE OUTPUT "${dir}/etc/qt.conf" CONTENT "[Paths]\nTranslations = :/qt/translations\n")
  qt_add_resources(${target} qm_static_qt_translations PREFIX /qt BASE "${dir}"
                   FILES "${dir}/etc/qt.conf" "${dir}/translations/qtbase_zh_CN.qm")
endfunction()

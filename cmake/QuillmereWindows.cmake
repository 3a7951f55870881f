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

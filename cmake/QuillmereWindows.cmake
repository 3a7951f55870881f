# qm_utf8_code_page(<target>): on Windows the executable runs with UTF-8 as its ANSI code page,
# the encoding every string in the program already uses; elsewhere it does nothing.
function(qm_utf8_code_page target)
  if(NOT WIN32)
    return()
  endif()
  if(MSVC)
    # The linker merges a .manifest source into the manifest it writes anyway.
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/windows/utf8.manifest)
  else()
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/windows/utf8.rc)
  endif()
endfunction()

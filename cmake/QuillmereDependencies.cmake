# Finds the C libraries the program links and names each by one target, whatever found it:
#   qm::expat  qm::zlib  qm::deflate  qm::nettle  qm::libxml2
# pkg-config is asked first (Linux, MSYS2, the MinGW cross build); where it is missing or does
# not know a library, as with an MSVC or MinGW Qt kit on Windows, the library's own CMake
# package or a plain search of CMAKE_PREFIX_PATH is used.
find_package(PkgConfig QUIET)

# qm_pkg_config(<PREFIX> <module>): PkgConfig::<PREFIX> when pkg-config knows <module>.
macro(qm_pkg_config prefix module)
  set(${prefix}_FOUND FALSE)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(${prefix} IMPORTED_TARGET ${module})
  endif()
endmacro()

# qm_find_library(<alias> <PREFIX> <module>): pkg-config's <module>, else CMake's own
# Find<PREFIX> module and its <PREFIX>::<PREFIX> target.
macro(qm_find_library alias prefix module)
  qm_pkg_config(${prefix} ${module})
  if(${prefix}_FOUND)
    add_library(${alias} ALIAS PkgConfig::${prefix})
  else()
    find_package(${prefix} REQUIRED)
    add_library(${alias} ALIAS ${prefix}::${prefix})
  endif()
endmacro()

qm_find_library(qm::expat EXPAT expat)
qm_find_library(qm::zlib ZLIB zlib)
# libxml2 for its HTML parser, which reads web pages exported as workbooks.
qm_find_library(qm::libxml2 LibXml2 libxml-2.0)

qm_pkg_config(DEFLATE libdeflate)
if(DEFLATE_FOUND)
  add_library(qm::deflate ALIAS PkgConfig::DEFLATE)
else()
  # libdeflate's own package exports a static and/or a shared library.
  find_package(libdeflate CONFIG REQUIRED)
  if(TARGET libdeflate::libdeflate_static)
    add_library(qm::deflate ALIAS libdeflate::libdeflate_static)
  else()
    add_library(qm::deflate ALIAS libdeflate::libdeflate_shared)
  endif()
endif()

qm_pkg_config(NETTLE nettle)
if(NETTLE_FOUND)
  add_library(qm::nettle ALIAS PkgConfig::NETTLE)
else()
  # nettle ships neither a CMake package nor, on Windows kits, a .pc file.
  find_path(QM_NETTLE_INCLUDE_DIR nettle/sha2.h)
  find_library(QM_NETTLE_LIBRARY NAMES nettle libnettle)
  if(NOT QM_NETTLE_INCLUDE_DIR OR NOT QM_NETTLE_LIBRARY)
    message(FATAL_ERROR "nettle not found: add its prefix to CMAKE_PREFIX_PATH")
  endif()
  add_library(qm_nettle UNKNOWN IMPORTED)
  set_target_properties(qm_nettle PROPERTIES IMPORTED_LOCATION "${QM_NETTLE_LIBRARY}"
                                             INTERFACE_INCLUDE_DIRECTORIES "${QM_NETTLE_INCLUDE_DIR}")
  add_library(qm::nettle ALIAS qm_nettle)
endif()

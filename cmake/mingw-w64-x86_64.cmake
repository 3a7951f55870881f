# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads flavour).
#
# The libraries the program links are looked for only under QM_WINDOWS_DEPS, a prefix with
# include/, lib/ and lib/pkgconfig/ holding Windows builds (tools/cross-windows.sh makes one);
# nothing of the host's /usr may leak into a Windows binary. Programs (pkg-config, wine) are
# the host's.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DQM_WINDOWS_DEPS=/path/to/deps [-DQM_WINDOWS_QT=/path/to/qt -DQT_HOST_PATH=/usr]
#
# QM_WINDOWS_QT, when set, is the prefix of a static Qt built for Windows (tools/cross-windows.sh
# keeps one in the user's cache); its moc, rcc and uic are the host's Qt of the same version.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QM_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QM_MINGW_TRIPLET}-windres)

# The toolchain file is read again for every try_compile project; the prefix must reach them.
if(NOT QM_WINDOWS_DEPS AND DEFINED ENV{QM_WINDOWS_DEPS})
  set(QM_WINDOWS_DEPS "$ENV{QM_WINDOWS_DEPS}")
endif()
if(NOT QM_WINDOWS_DEPS)
  message(FATAL_ERROR "Set QM_WINDOWS_DEPS to the prefix of the Windows libraries")
endif()
set(QM_WINDOWS_DEPS "${QM_WINDOWS_DEPS}" CACHE PATH "Prefix of the Windows builds of the libraries")
if(NOT QM_WINDOWS_QT AND DEFINED ENV{QM_WINDOWS_QT})
  set(QM_WINDOWS_QT "$ENV{QM_WINDOWS_QT}")
endif()
set(QM_WINDOWS_QT "${QM_WINDOWS_QT}" CACHE PATH "Prefix of a static Qt built for Windows (optional)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QM_WINDOWS_DEPS QM_WINDOWS_QT)

set(CMAKE_FIND_ROOT_PATH "${QM_WINDOWS_DEPS}" ${QM_WINDOWS_QT} /usr/${QM_MINGW_TRIPLET})
# Paths already under a root are searched as they are, so packages installed in the prefix's
# lib/cmake and share/cmake are found directly.
list(APPEND CMAKE_PREFIX_PATH "${QM_WINDOWS_DEPS}" ${QM_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see only the prefix's .pc files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${QM_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# One self-contained .exe each: the C and C++ runtimes and winpthread are linked in, so nothing
# has to be copied beside the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test discovery and ctest run the Windows programs through Wine.
find_program(QM_WINE_PROGRAM NAMES wine wine64)
if(QM_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QM_WINE_PROGRAM}")
endif()

#!/usr/bin/env bash
# Cross-builds the command line, the window and their tests for 64-bit Windows with mingw-w64
# and runs them under Wine: the tests, then merges of the example folders (one under a Chinese
# name), whose results must dump the same as the Linux build's; the window's tests on an Xvfb
# display, a merge through the window, its picture; then the installer and the zip.
#
# Usage: tools/cross-windows.sh [BUILD_DIR]        (default: build-windows in the repo root)
#
# The Windows builds of expat, zlib, libdeflate, nettle and libxml2 come from Debian's source packages
# (with Debian's patches), fetched through a private apt configuration under BUILD_DIR/apt so
# the machine's own apt setup is left alone. They, GoogleTest and the header-only libraries go
# into BUILD_DIR/deps, built once; delete a BUILD_DIR/deps/stamp/* file to rebuild that one.
#
# Environment:
#   QM_WINDOWS_GTEST_FILTER  gtest filter for the Wine run (default below: everything that
#                            needs what a Windows machine lacks)
#   QM_LINUX_CLI             the Linux quillmere-cli to compare with (default build/src/cli/...;
#                            the comparison is skipped when there is none); the window's merge
#                            is compared with the window tests of the same build
#   QM_DEBIAN_MIRROR         where the source packages come from (default deb.debian.org)
#   QM_SKIP_WINDOWS=1        do nothing (for callers that make this step optional)
#   QM_QT_CACHE              where the Windows Qt is built and kept (default
#                            ${XDG_CACHE_HOME:-~/.cache}/quillmere/qt6-windows)
#   QM_WINDOWS_STEPS=window  after the build, only the window's steps (tests, merge, picture)
#   QM_WINDOWS_SHOT          where the window's picture goes (default BUILD_DIR/window-windows.png)
set -euo pipefail

if [ "${QM_SKIP_WINDOWS:-0}" = 1 ]; then
  echo "cross-windows: skipped (QM_SKIP_WINDOWS=1)"
  exit 0
fi

repo="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$repo/build-windows}"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
deps="$dir/deps"
triplet=x86_64-w64-mingw32
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"
jobs="$(nproc)"
started=$SECONDS

# Tests that cannot run on Windows: LibreOffice is not there, nor the POSIX-only corners the
# suite checks on Linux. Extend this list with the names of such tests.
windows_excluded=(
  '*LibreOffice*'
)
default_filter="-$(
  IFS=:
  echo "${windows_excluded[*]}"
)"
gtest_filter="${QM_WINDOWS_GTEST_FILTER:-$default_filter}"

summary=()
note() { summary+=("$*"); }
step() { printf '== %s (%ds)\n' "$*" $((SECONDS - started)); }
die() {
  echo "cross-windows: $*" >&2
  exit 1
}

# --- Packages ---------------------------------------------------------------------------------
pkgs=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 dpkg-dev cmake
  ninja-build pkg-config make googletest nlohmann-json3-dev libcli11-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  step "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$repo}"
fi

# --- Windows builds of the libraries ----------------------------------------------------------
mkdir -p "$deps/stamp" "$deps/src" "$deps/build" "$deps/include" "$deps/lib/pkgconfig"
built() { [ -e "$deps/stamp/$1" ]; }
mark() { touch "$deps/stamp/$1"; }

# The source packages, fetched once for every library still to build.
source_dir() { find "$deps/src" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | sort | tail -n 1; }
fetch_sources() {
  local todo=() p
  for p in expat zlib libdeflate nettle libxml2; do
    built "$p" || [ -n "$(source_dir "$p")" ] || todo+=("$p")
  done
  [ ${#todo[@]} -eq 0 ] && return
  step "Fetching Debian sources: ${todo[*]}"
  local apt="$dir/apt"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
  echo "deb-src ${QM_DEBIAN_MIRROR:-http://deb.debian.org/debian} bookworm main" >"$apt/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1)
  # Root's apt hands downloads to the _apt user, who may not enter the build folder.
  [ "$(id -u)" -eq 0 ] && opts+=(-o APT::Sandbox::User=root)
  apt-get "${opts[@]}" update -qq
  (cd "$deps/src" && apt-get "${opts[@]}" source --download-only -qq "${todo[@]}")
  for p in "${todo[@]}"; do
    local dsc
    dsc="$(find "$deps/src" -maxdepth 1 -name "${p}_*.dsc" | sort | tail -n 1)"
    [ -n "$dsc" ] || die "no source package for $p"
    (cd "$deps/src" && dpkg-source -x "$(basename "$dsc")" >"$deps/build/$p-extract.log" 2>&1) ||
      die "dpkg-source failed for $p, see $deps/build/$p-extract.log"
  done
}

# Runs a build step quietly; its log is kept and shown when it fails.
logged() {
  local log="$deps/build/$1.log"
  shift
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    die "failed: $* (log: $log)"
  fi
}

cmake_dep() { # name source-dir cmake-options...
  local name="$1" src="$2"
  shift 2
  logged "$name" cmake -S "$src" -B "$deps/build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQM_WINDOWS_DEPS="$deps" \
    -DCMAKE_INSTALL_PREFIX="$deps" -DBUILD_SHARED_LIBS=OFF "${launcher[@]}" "$@"
  logged "$name" cmake --build "$deps/build/$name" -j "$jobs"
  logged "$name" cmake --install "$deps/build/$name"
}

build_expat() {
  built expat && return
  step "expat"
  local src
  src="$(source_dir expat)/expat"
  # Debian's security patches test "#if XML_DTD == 1", as the autotools header defines it; the
  # CMake header defined it empty.
  sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$src/expat_config.h.cmake"
  cmake_dep expat "$src" -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF \
    -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF \
    -DEXPAT_BUILD_FUZZERS=OFF -DEXPAT_BUILD_PKGCONFIG=ON
  # A static expat must not be declared as imported from a DLL.
  sed -i '/^Cflags:/{/XML_STATIC/!s/$/ -DXML_STATIC/}' "$deps/lib/pkgconfig/expat.pc"
  mark expat
}

build_zlib() {
  built zlib && return
  step "zlib"
  local src
  src="$(source_dir zlib)"
  (
    cd "$src"
    logged zlib env CHOST=$triplet CC=$triplet-gcc-posix CFLAGS="-O2" \
      ./configure --static --prefix="$deps"
    logged zlib make -j "$jobs" libz.a
    logged zlib make install
  )
  mark zlib
}

build_libdeflate() {
  built libdeflate && return
  step "libdeflate"
  local src version
  src="$(source_dir libdeflate)"
  (
    cd "$src"
    # For MinGW its Makefile names the static library libdeflatestatic.lib.
    logged libdeflate make -j "$jobs" CC=$triplet-gcc-posix AR=$triplet-ar CFLAGS="-O2" \
      libdeflatestatic.lib
  )
  install -m644 "$src/libdeflatestatic.lib" "$deps/lib/libdeflate.a"
  install -m644 "$src/libdeflate.h" "$deps/include/"
  version="$(sed -n 's/^#define LIBDEFLATE_VERSION_STRING[^"]*"\([^"]*\)".*/\1/p' "$src/libdeflate.h")"
  cat >"$deps/lib/pkgconfig/libdeflate.pc" <<EOF
prefix=$deps
includedir=\${prefix}/include
libdir=\${prefix}/lib

Name: libdeflate
Description: Fast implementation of DEFLATE, zlib, and gzip
Version: $version
Libs: -L\${libdir} -ldeflate
Cflags: -I\${includedir}
EOF
  mark libdeflate
}

build_nettle() {
  built nettle && return
  step "nettle"
  local src
  src="$(source_dir nettle)"
  (
    cd "$src"
    # Debian's patch leaves aclocal.m4 newer than the generated header template; make would
    # then want autoheader.
    touch stamp-h.in config.h.in
    # The C code is enough: the assembly would need m4, and only hashes and ciphers are used.
    logged nettle ./configure --host=$triplet CC=$triplet-gcc-posix CFLAGS="-O2" \
      --prefix="$deps" --disable-shared --disable-public-key --disable-documentation \
      --disable-openssl --disable-assembler --disable-fat --disable-mini-gmp
    logged nettle make -j "$jobs" libnettle.a
    logged nettle make install-headers install-static install-pkgconfig
  )
  mark nettle
}

build_libxml2() {
  built libxml2 && return
  step "libxml2"
  # Only its HTML parser is used, on text already converted to UTF-8: no iconv, no compression,
  # nothing that reaches the network.
  cmake_dep libxml2 "$(source_dir libxml2)" -DLIBXML2_WITH_ICONV=OFF -DLIBXML2_WITH_LZMA=OFF \
    -DLIBXML2_WITH_ZLIB=OFF -DLIBXML2_WITH_PYTHON=OFF -DLIBXML2_WITH_PROGRAMS=OFF \
    -DLIBXML2_WITH_TESTS=OFF -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_FTP=OFF \
    -DLIBXML2_WITH_MODULES=OFF
  mark libxml2
}

build_gtest() {
  built googletest && return
  step "GoogleTest"
  [ -d /usr/src/googletest ] || die "/usr/src/googletest is missing (package googletest)"
  cmake_dep googletest /usr/src/googletest -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON
  mark googletest
}

# Header-only libraries: Debian's headers and CMake package files, so find_package finds them
# in the prefix and never looks at the host.
stage_headers() {
  built headers && return
  step "nlohmann-json and CLI11 headers"
  local pkg f rel
  for pkg in nlohmann-json3-dev libcli11-dev; do
    while IFS= read -r f; do
      [ -f "$f" ] || continue
      case "$f" in
        /usr/include/*) rel="include/${f#/usr/include/}" ;;
        /usr/share/cmake/* | /usr/share/pkgconfig/*) rel="share/${f#/usr/share/}" ;;
        /usr/lib/cmake/* | /usr/lib/pkgconfig/*) rel="lib/${f#/usr/lib/}" ;;
        /usr/lib/*/cmake/*) rel="lib/cmake/${f#/usr/lib/*/cmake/}" ;;
        /usr/lib/*/pkgconfig/*) rel="lib/pkgconfig/${f#/usr/lib/*/pkgconfig/}" ;;
        *) continue ;;
      esac
      mkdir -p "$deps/$(dirname "$rel")"
      cp "$f" "$deps/$rel"
    done < <(dpkg -L "$pkg")
  done
  # Their .pc files name /usr; the prefix is where they are now.
  for f in "$deps"/share/pkgconfig/*.pc "$deps"/lib/pkgconfig/nlohmann_json.pc; do
    [ -f "$f" ] && sed -i "s|^prefix=.*|prefix=$deps|" "$f"
  done
  mark headers
}

fetch_sources
build_expat
build_zlib
build_libdeflate
build_nettle
build_libxml2
build_gtest
stage_headers

# --- Qt for Windows ---------------------------------------------------------------------------
# The window needs Qt, which Debian does not build for mingw-w64: a static Qt (Core, Gui, Widgets,
# Test, Concurrent, the Windows platform plugin and styles) is built from Debian's qt6-base with
# Debian's patches, its moc, rcc and uic being the host's Qt of the same version. It takes long
# (see README), so it is kept outside the clone, under QM_QT_CACHE (default: the user's cache),
# in a folder named by the source version and a hash of the options and the compiler: every clone
# on the machine, CI's fresh one too, reuses it, and a changed option builds a new one beside it.
qt_cache="${QM_QT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillmere/qt6-windows}"
# Bump when the steps below change in a way the options do not show.
qt_recipe=1
# Everything the window does not use is left out; the third-party libraries are Qt's own copies,
# linked in. Traps of 6.4.2: the Windows plugin does not compile without OpenGL (keep the dynamic
# one), Debian's repacked source lacks wintab.h (no tablet events), and a Debian patch forces the
# shared system zstd (no zstd).
qt_options=(-DBUILD_SHARED_LIBS=OFF -DQT_QMAKE_TARGET_MKSPEC=win32-g++
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DFEATURE_pkg_config=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_png=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF
  -DFEATURE_system_jpeg=OFF -DFEATURE_jpeg=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF
  -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_vulkan=OFF -DFEATURE_icu=OFF
  -DFEATURE_fontconfig=OFF -DFEATURE_xml=OFF -DFEATURE_androiddeployqt=OFF -DFEATURE_zstd=OFF
  -DFEATURE_tabletevent=OFF -DFEATURE_opengl_dynamic=ON)
qt_host=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)

# What the window's build and its runs under Wine need beyond the command line's.
window_packages() {
  local p missing=()
  for p in qt6-base-dev qt6-base-dev-tools nsis xvfb xauth fonts-noto-cjk; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  step "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# apt with the cache's own lists: Qt's source package and the binary package of its translations.
qt_apt() { # apt-get|apt-cache arguments...
  local tool="$1" apt="$qt_cache/apt"
  shift
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1)
  [ "$(id -u)" -eq 0 ] && opts+=(-o APT::Sandbox::User=root)
  "$tool" "${opts[@]}" "$@"
}

# Sets qt_version, qt_tr_version and qt_prefix. The lists are refreshed once a day; offline, the
# last ones do.
qt_locate() {
  local apt="$qt_cache/apt" mirror="${QM_DEBIAN_MIRROR:-http://deb.debian.org/debian}" compiler hash
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
  printf 'deb %s bookworm main\ndeb-src %s bookworm main\n' "$mirror" "$mirror" >"$apt/sources.list"
  if [ -z "$(find "$apt/updated" -mmin -1440 2>/dev/null)" ]; then
    if qt_apt apt-get update -qq; then
      touch "$apt/updated"
    elif [ -e "$apt/updated" ]; then
      echo "cross-windows: cannot refresh the package lists; using those of $(date -r "$apt/updated")" >&2
    else
      die "cannot fetch the package lists for Qt"
    fi
  fi
  qt_version="$(qt_apt apt-cache showsrc qt6-base | sed -n 's/^Version: //p' | sort -V | tail -n 1)"
  qt_tr_version="$(qt_apt apt-cache show qt6-translations-l10n | sed -n 's/^Version: //p' | sort -V | tail -n 1)"
  [ -n "$qt_version" ] && [ -n "$qt_tr_version" ] || die "no qt6-base or qt6-translations-l10n in the lists"
  compiler="$(dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev)"
  hash="$(printf '%s\n' "$qt_recipe" "$compiler" "${qt_options[@]}" | sha256sum | cut -c1-12)"
  qt_prefix="$qt_cache/qt6-base-$qt_version-$hash"
}

# Builds Qt into qt_prefix unless it is there; one build at a time per key, whoever asks.
build_qt() {
  qt_locate
  if [ ! -e "$qt_prefix/.complete" ]; then
    mkdir -p "$qt_cache"
    (
      flock 9
      [ -e "$qt_prefix/.complete" ] && exit 0
      build_qt_locked
    ) 9>"$qt_prefix.lock"
  fi
  note "Qt $qt_version for Windows: $qt_prefix ($(cat "$qt_prefix/.complete"))"
  qt_translations
}

build_qt_locked() {
  local work="$qt_prefix.work" begun=$SECONDS
  step "Qt $qt_version for Windows (once per machine; see $deps/build/qt.log)"
  rm -rf "$qt_prefix" # what an interrupted run installed
  mkdir -p "$work"
  if [ ! -d "$work/src" ]; then
    rm -rf "$work"/qt6-base*
    (cd "$work" && qt_apt apt-get source --download-only -qq "qt6-base=$qt_version")
    (cd "$work" && dpkg-source -x qt6-base_*.dsc src >"$work/extract.log" 2>&1) ||
      die "dpkg-source failed for qt6-base, see $work/extract.log"
  fi
  # An interrupted build goes on where it stopped.
  if [ ! -f "$work/build/build.ninja" ]; then
    logged qt cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQM_WINDOWS_DEPS="$qt_prefix" \
      -DCMAKE_INSTALL_PREFIX="$qt_prefix" "${qt_host[@]}" "${qt_options[@]}"
  fi
  logged qt cmake --build "$work/build" -j "$jobs"
  logged qt cmake --install "$work/build"
  echo "built in $((SECONDS - begun))s on $(date -u +%Y-%m-%d)" >"$qt_prefix/.complete"
  rm -rf "$work"
}

# Qt's Chinese translations: the .qm files are the same on every system, so Debian's package
# gives them. They go where this Qt keeps translations; the window builds them in.
qt_translations() {
  local have tmp
  have="$(cat "$qt_prefix/translations/.version" 2>/dev/null || true)"
  [ "$have" = "$qt_tr_version" ] && return
  step "Qt's Chinese translations ($qt_tr_version)"
  tmp="$(mktemp -d "$dir/qt-translations.XXXXXX")"
  (cd "$tmp" && qt_apt apt-get download -qq "qt6-translations-l10n=$qt_tr_version")
  dpkg-deb -x "$tmp"/qt6-translations-l10n_*.deb "$tmp/x"
  mkdir -p "$qt_prefix/translations"
  cp "$tmp"/x/usr/share/qt6/translations/*_zh_CN.qm "$qt_prefix/translations/"
  echo "$qt_tr_version" >"$qt_prefix/translations/.version"
  rm -rf "$tmp"
}

window_packages
build_qt

# --- Wine -------------------------------------------------------------------------------------
export WINEPREFIX="$dir/wine"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs .NET or a browser, and their installers would prompt.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The programs print UTF-8; Wine must not need a display for any of this.
unset DISPLAY WAYLAND_DISPLAY
if [ ! -e "$WINEPREFIX/.qm-ready" ]; then
  step "Wine prefix"
  wineboot -i >"$dir/wineboot.log" 2>&1 || {
    cat "$dir/wineboot.log" >&2
    die "wineboot failed"
  }
  wineserver -w
  touch "$WINEPREFIX/.qm-ready"
fi

# --- The window under Wine --------------------------------------------------------------------
# Its tests with the Windows platform plugin, a merge of examples/monthly driven through it
# (compared with the Linux build's), its picture, and the installer and the zip. The window's
# steps alone, with the picture saved where QM_WINDOWS_SHOT says (docs/window-windows.png for the
# README): QM_WINDOWS_STEPS=window QM_WINDOWS_SHOT=$PWD/docs/window-windows.png tools/cross-windows.sh
gui_tests="$dir/tests/gui/quillmere_gui_tests.exe"
window_exe="$dir/src/app/quillmere.exe"
# The Linux build the window's merge is compared with: the one QM_LINUX_CLI belongs to.
window_linux_cli="${QM_LINUX_CLI:-$repo/build/src/cli/quillmere-cli}"
window_linux_tests="${window_linux_cli%/src/cli/quillmere-cli}/tests/gui/quillmere_gui_tests"

window_result() { # folder: the result the run left in its 合并结果
  find "$1/合并结果" -maxdepth 1 -type f -name '*.xls*' 2>/dev/null | sort | head -n 1
}

# Fails unless every DLL the programs import is one of Windows' own (Wine has them all in
# system32; api-ms-win-* are the system's API sets, which no file carries): Qt, the C++ runtime
# and the libraries are linked in.
only_system_dlls() { # exe...
  local exe dll own
  own="$(find "$WINEPREFIX/drive_c/windows/system32" -maxdepth 1 -iname '*.dll' -printf '%f\n' |
    tr '[:upper:]' '[:lower:]')"
  for exe; do
    while read -r dll; do
      [[ "${dll,,}" == api-ms-win-* ]] || grep -qxF "${dll,,}" <<<"$own" ||
        die "$(basename "$exe") needs $dll, which Windows does not have"
    done < <($triplet-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
  done
}

# A private X server for the window's runs; Wine starts its own processes again on it.
xvfb_pid=""
window_display() {
  [ -n "$xvfb_pid" ] && return
  : >"$dir/xvfb.display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/xvfb.display" 2>"$dir/xvfb.log" &
  xvfb_pid=$!
  trap 'wineserver -k 2>/dev/null || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
  local i
  for i in $(seq 100); do
    [ -s "$dir/xvfb.display" ] && break
    sleep 0.1
  done
  [ -s "$dir/xvfb.display" ] || die "Xvfb did not start (see $dir/xvfb.log)"
  # Processes Wine started without a display (the runs above) must not be reused.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  export DISPLAY=":$(cat "$dir/xvfb.display")"
}

# Runs the window's test binary under Wine from the repo root (the tests' paths are the repo's,
# seen on drive Z:); extra arguments select test functions. The report goes to a file: QTest's
# report to a console does not come through Wine here; Wine's own messages go to LOG.wine.
wine_gui_tests() { # log args...
  local log="$1"
  shift
  rm -f "$log"
  (cd "$repo" && wine "$gui_tests" -o "$log,txt" "$@") >"$log.wine" 2>&1
}

window_tests() {
  step "Window tests under Wine"
  local log="$dir/gui-tests-wine.log" rc=0 totals
  wine_gui_tests "$log" || rc=$?
  grep -E -A2 '^(FAIL!|SKIP)' "$log" 2>/dev/null | head -n 60 || true
  totals="$(grep -E '^Totals:' "$log" 2>/dev/null | tail -n 1 || true)"
  if [ "$rc" -eq 0 ] && [ -n "$totals" ]; then
    note "window tests under Wine: ${totals#Totals: }"
  else
    note "window tests under Wine: FAILED (exit $rc, log $log)"
    failed=1
  fi
}

# The monthly examples merged through the window (纵向拼接, 安全合并, the dialogs' default answers)
# under Wine and on Linux: the same log, paths aside, and the same cells.
window_merge() {
  local runs="$dir/window-run" rc=0 linux_rc=0 problems=() f
  step "A merge of examples/monthly through the window under Wine"
  rm -rf "$runs"
  mkdir -p "$runs/windows" "$runs/linux"
  cp -r "$repo/examples/monthly" "$runs/windows/月报"
  QM_WINDOW_MERGE="$runs/windows/月报" QM_WINDOW_MERGE_LOG="$runs/windows.log" \
    wine_gui_tests "$runs/windows.out" mergeThroughTheWindow || rc=$?
  if [ "$rc" -ne 0 ]; then
    grep -E -A2 '^FAIL!' "$runs/windows.out" >&2 || cat "$runs/windows.out.wine" >&2
    note "merge through the window under Wine: FAILED (exit $rc, log $runs/windows.out)"
    failed=1
    return
  fi
  if [ ! -x "$window_linux_cli" ] || [ ! -x "$window_linux_tests" ]; then
    note "merge through the window under Wine: done (no Linux build to compare)"
    return
  fi
  cp -r "$repo/examples/monthly" "$runs/linux/月报"
  QT_QPA_PLATFORM=offscreen QM_WINDOW_MERGE="$runs/linux/月报" QM_WINDOW_MERGE_LOG="$runs/linux.log" \
    "$window_linux_tests" mergeThroughTheWindow >"$runs/linux.out" 2>&1 || linux_rc=$?
  [ "$linux_rc" -eq 0 ] || problems+=("the Linux run failed (see $runs/linux.out)")
  # The log names the result by its full path.
  sed -e 's/\r$//' -e "s|Z:$runs/windows|<runs>|g" -e "s|$runs/windows|<runs>|g" "$runs/windows.log" >"$runs/windows.log.txt"
  sed -e 's/\r$//' -e "s|$runs/linux|<runs>|g" "$runs/linux.log" >"$runs/linux.log.txt"
  diff -u "$runs/linux.log.txt" "$runs/windows.log.txt" >"$runs/log.diff" ||
    problems+=("another log (see $runs/log.diff)")
  "$window_linux_cli" --dump "$(window_result "$runs/windows/月报")" >"$runs/windows.dump" 2>&1 || true
  "$window_linux_cli" --dump "$(window_result "$runs/linux/月报")" >"$runs/linux.dump" 2>&1 || true
  diff -u "$runs/linux.dump" "$runs/windows.dump" >"$runs/cells.diff" ||
    problems+=("other cells (see $runs/cells.diff)")
  if [ ${#problems[@]} -eq 0 ]; then
    note "merge through the window under Wine: same log and cells as on Linux ($(wc -l <"$runs/linux.dump") dump lines)"
  else
    for f in "$runs/log.diff" "$runs/cells.diff"; do [ -s "$f" ] && head -n 30 "$f" >&2; done
    note "merge through the window under Wine: DIFFERS from Linux: ${problems[*]}"
    failed=1
  fi
}

window_screenshot() {
  local shot="${QM_WINDOWS_SHOT:-$dir/window-windows.png}" rc=0
  step "The window's picture under Wine"
  QM_WINDOW_SHOT="$shot" wine_gui_tests "$dir/screenshot.log" screenshot || rc=$?
  if [ "$rc" -eq 0 ] && [ -s "$shot" ]; then
    note "window picture: $shot"
  else
    note "window picture: FAILED (exit $rc, log $dir/screenshot.log)"
    failed=1
  fi
}

# The installer and the zip; the installer installs silently under Wine, the installed command
# line merges an example folder, and the uninstaller takes everything away again.
window_installer() {
  step "Installer and zip"
  rm -f "$dir"/Quillmere-*-win64.*
  if ! (cd "$dir" && cpack -G NSIS && cpack -G ZIP) >"$dir/cpack.log" 2>&1; then
    tail -n 30 "$dir/cpack.log" >&2
    note "installer: FAILED (cpack, log $dir/cpack.log)"
    failed=1
    return
  fi
  local installer zip home="C:\\Program Files\\Quillmere" problems=() rc=0
  installer="$(find "$dir" -maxdepth 1 -name 'Quillmere-*-win64.exe')"
  zip="$(find "$dir" -maxdepth 1 -name 'Quillmere-*-win64.zip')"
  local files="$WINEPREFIX/drive_c/Program Files/Quillmere"
  local menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/合并工作簿"
  cmake -E tar tf "$zip" >"$dir/zip.list"
  for f in quillmere.exe quillmere-cli.exe; do
    grep -qx "Quillmere-[^/]*-win64/$f" "$dir/zip.list" || problems+=("$f not in the zip")
  done

  step "Installing $(basename "$installer") under Wine (/S)"
  wine "$installer" /S >"$dir/install.log" 2>&1 || problems+=("the installer exited with $?")
  wineserver -w
  for f in quillmere.exe quillmere-cli.exe Uninstall.exe; do
    [ -f "$files/$f" ] || problems+=("no $f installed")
  done
  for f in "合并工作簿 (ExcelQuillmere).lnk" "卸载.lnk"; do
    [ -f "$menu/$f" ] || problems+=("no Start-menu entry $f")
  done
  local run="$dir/installed-run"
  rm -rf "$run"
  mkdir -p "$run"
  cp -r "$repo/examples/monthly" "$run/月报"
  (cd "$run" && wine "$home\\quillmere-cli.exe" 月报 --kind vertical --variant safe) >"$run/cli.log" 2>&1 ||
    rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 3 ] || problems+=("the installed command line exited with $rc")
  [ -n "$(window_result "$run/月报")" ] || problems+=("the installed command line wrote no result")

  # The uninstaller runs on from a copy of itself in the temporary folder: wait for Wine to go.
  wine "$home\\Uninstall.exe" /S >>"$dir/install.log" 2>&1 || problems+=("the uninstaller exited with $?")
  wineserver -w
  for f in quillmere.exe quillmere-cli.exe; do
    [ -e "$files/$f" ] && problems+=("$f left after uninstalling")
  done
  [ -e "$menu" ] && problems+=("the Start-menu folder left after uninstalling")
  if [ ${#problems[@]} -eq 0 ]; then
    note "installer: $(basename "$installer") ($(du -h "$installer" | cut -f1)) installs, merges (exit $rc) and uninstalls; zip: $(basename "$zip")"
  else
    note "installer: FAILED: ${problems[*]}"
    failed=1
  fi
}

window_steps() {
  [ "${QM_WINDOWS_STEPS:-all}" = window ] || window_installer
  window_display
  window_tests
  window_merge
  window_screenshot
}

# --- The program ------------------------------------------------------------------------------
step "Configuring"
# -O2 like the Linux build: mingw GCC 12 gives false -Wrestrict warnings in libstdc++ at -O3.
cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQM_WINDOWS_DEPS="$deps" \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DQM_BUILD_GUI=ON -DQM_WINDOWS_QT="$qt_prefix" "${qt_host[@]}" \
  -DQM_FUZZ_REPLAY=OFF -DQM_BUILD_TESTS=ON "${launcher[@]}" >"$dir/configure.log" ||
  {
    cat "$dir/configure.log" >&2
    die "configure failed"
  }
step "Building"
cmake --build "$dir" -j "$jobs" --target workbook merge core appoptions quillmere-cli quillmere_tests \
  quillmere quillmere_gui_tests
cli="$dir/src/cli/quillmere-cli.exe"
tests="$dir/tests/quillmere_tests.exe"
for exe in "$cli" "$tests"; do
  # Self-contained: the only DLLs loaded are Windows' own.
  if $triplet-objdump -p "$exe" | grep -i 'DLL Name' | grep -q -i -E 'libstdc|libgcc|winpthread|zlib|expat|nettle|deflate|xml2'; then
    die "$(basename "$exe") needs a DLL beside it"
  fi
done

only_system_dlls "$cli" "$tests" "$window_exe" "$gui_tests"

failed=0
if [ "${QM_WINDOWS_STEPS:-all}" = window ]; then
  window_steps
  echo
  echo "The window under Wine, $((SECONDS - started))s, in $dir:"
  for line in "${summary[@]}"; do echo "  $line"; done
  exit "$failed"
fi

# --- Tests under Wine -------------------------------------------------------------------------
step "Tests under Wine ($gtest_filter)"
# Run from the repo root: the suite's fixture paths are the repo's, seen by Wine on drive Z:.
if (cd "$repo" && wine "$tests" --gtest_filter="$gtest_filter" --gtest_brief=1) >"$dir/tests-wine.log" 2>&1; then
  tests_rc=0
else
  tests_rc=$?
fi
grep -E '^\[  (FAILED|PASSED|SKIPPED) ' "$dir/tests-wine.log" | head -n 60 || true
if [ "$tests_rc" -eq 0 ]; then
  note "tests under Wine: passed ($(grep -o '\[  PASSED  \] [0-9]* tests' "$dir/tests-wine.log" | grep -o '[0-9]*' || echo '?') tests)"
else
  note "tests under Wine: FAILED (exit $tests_rc, log $dir/tests-wine.log)"
  failed=1
fi

# --- Example merges under Wine, compared with Linux -------------------------------------------
linux_cli="${QM_LINUX_CLI:-$repo/build/src/cli/quillmere-cli}"
[ -x "$linux_cli" ] || linux_cli=""
runs="$dir/examples-run"
rm -rf "$runs"
mkdir -p "$runs/windows" "$runs/linux"

# name | example folder | arguments after the folder. Each runs on a fresh copy of its folder,
# once under Wine and once with the Linux build: exit status, what the program prints (paths
# aside) and the result's cells must be the same. Chinese folder and file names come through the
# command line; "messy" adds a CSV saved as .xls (read, and skipped for its other header) and an
# empty .xlsx (skipped as unreadable): exit 3. The safe merges of monthly leave April's table out
# (exit 3 too). A fast merge is told its header rows: without a terminal the box's question would
# be answered with Cancel.
merges=(
  "monthly|monthly|--kind vertical --variant safe"
  "月报|monthly|--kind vertical --variant safe"
  "月报-选|monthly|--kind vertical --variant fast --header-rows 2 --files 03月.xls,01月.xls"
  "月报-覆盖|monthly|--kind overwrite --variant safe --key 1"
  "智能|smart|--kind smart --variant both --key 1"
  "杂乱|messy|--kind vertical --variant safe"
  "杂乱-检查|messy|--check"
)
prepare() { # example destination
  if [ "$1" = messy ]; then
    cp -r "$repo/examples/monthly" "$2"
    printf '工号,姓名\r\n1,张三\r\n' >"$2/05月导出.xls"
    : >"$2/06月空.xlsx"
  else
    cp -r "$repo/examples/$1" "$2"
  fi
  rm -rf "$2/合并结果" # a result of an earlier run in the working copy
}
result_of() {
  [ -d "$1/合并结果" ] || return 0
  find "$1/合并结果" -maxdepth 1 -type f -name '*.xls*' | sort | head -n 1
}
# The printed text with the run's own folder replaced, so the two systems' paths compare equal.
normalized() { # log folder
  sed -e 's/\r$//' -e "s|Z:$2|<folder>|g" -e "s|$2|<folder>|g" "$1"
}
for m in "${merges[@]}"; do
  IFS='|' read -r name example options <<<"$m"
  step "Running $name ($options) under Wine"
  prepare "$example" "$runs/windows/$name"
  prepare "$example" "$runs/linux/$name"
  # shellcheck disable=SC2086 # the options are words
  if (cd "$runs/windows" && wine "$cli" "$name" $options) >"$runs/windows/$name.log" 2>&1; then
    rc=0
  else
    rc=$?
  fi
  win_result="$(result_of "$runs/windows/$name")"
  if [ -z "$linux_cli" ]; then
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 3 ]; then
      sed -n '1,20p' "$runs/windows/$name.log" >&2
      note "$name under Wine: FAILED (exit $rc)"
      failed=1
    else
      note "$name under Wine: exit $rc (no Linux quillmere-cli to compare)"
    fi
    continue
  fi
  # shellcheck disable=SC2086
  if (cd "$runs/linux" && "$linux_cli" "$name" $options) >"$runs/linux/$name.log" 2>&1; then
    linux_rc=0
  else
    linux_rc=$?
  fi
  linux_result="$(result_of "$runs/linux/$name")"
  problems=()
  [ "$rc" -eq "$linux_rc" ] || problems+=("exit $rc, on Linux $linux_rc")
  normalized "$runs/windows/$name.log" "$runs/windows/$name" >"$runs/$name.windows.out"
  normalized "$runs/linux/$name.log" "$runs/linux/$name" >"$runs/$name.linux.out"
  diff -u "$runs/$name.linux.out" "$runs/$name.windows.out" >"$runs/$name.out.diff" ||
    problems+=("prints differently (see $runs/$name.out.diff)")
  if [ -n "$win_result" ] || [ -n "$linux_result" ]; then
    "$linux_cli" --dump "$win_result" >"$runs/$name.windows.dump" 2>&1 || true
    "$linux_cli" --dump "$linux_result" >"$runs/$name.linux.dump" 2>&1 || true
    diff -u "$runs/$name.linux.dump" "$runs/$name.windows.dump" >"$runs/$name.diff" ||
      problems+=("other cells (see $runs/$name.diff)")
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    what="no result"
    [ -n "$win_result" ] && what="same cells ($(wc -l <"$runs/$name.linux.dump") dump lines)"
    note "$name under Wine: exit $rc, same output as on Linux, $what"
  else
    for f in "$runs/$name.out.diff" "$runs/$name.diff"; do [ -s "$f" ] && head -n 30 "$f" >&2; done
    note "$name under Wine: DIFFERS from Linux: ${problems[*]}"
    failed=1
  fi
done
window_steps
wineserver -k 2>/dev/null || true

echo
echo "Windows cross build, $((SECONDS - started))s, in $dir:"
for line in "${summary[@]}"; do echo "  $line"; done
exit "$failed"

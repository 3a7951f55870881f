#!/usr/bin/env bash
# Cross-builds the command line and the test suite for 64-bit Windows with mingw-w64 and runs
# both under Wine: the tests, then merges of the example folders (one under a Chinese name),
# whose results must dump the same as the Linux build's.
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
#                            the comparison is skipped when there is none)
#   QM_DEBIAN_MIRROR         where the source packages come from (default deb.debian.org)
#   QM_SKIP_WINDOWS=1        do nothing (for callers that make this step optional)
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

# --- The program ------------------------------------------------------------------------------
step "Configuring"
# -O2 like the Linux build: mingw GCC 12 gives false -Wrestrict warnings in libstdc++ at -O3.
cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQM_WINDOWS_DEPS="$deps" \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DQM_BUILD_GUI=OFF -DQM_FUZZ_REPLAY=OFF -DQM_BUILD_TESTS=ON "${launcher[@]}" >"$dir/configure.log" ||
  {
    cat "$dir/configure.log" >&2
    die "configure failed"
  }
step "Building"
cmake --build "$dir" -j "$jobs" --target workbook merge core appoptions quillmere-cli quillmere_tests
cli="$dir/src/cli/quillmere-cli.exe"
tests="$dir/tests/quillmere_tests.exe"
for exe in "$cli" "$tests"; do
  # Self-contained: the only DLLs loaded are Windows' own.
  if $triplet-objdump -p "$exe" | grep -i 'DLL Name' | grep -q -i -E 'libstdc|libgcc|winpthread|zlib|expat|nettle|deflate|xml2'; then
    die "$(basename "$exe") needs a DLL beside it"
  fi
done

failed=0

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
wineserver -k 2>/dev/null || true

echo
echo "Windows cross build, $((SECONDS - started))s, in $dir:"
for line in "${summary[@]}"; do echo "  $line"; done
exit "$failed"

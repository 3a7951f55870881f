#!/usr/bin/env bash
# Installs the Debian packages the build, the tests or the benchmarks need; does nothing when
# they are all present. Usage: tools/install-deps.sh [build|test|bench]...
set -euo pipefail

build_pkgs=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev
  libexpat1-dev zlib1g-dev libdeflate-dev nettle-dev libxml2-dev libcli11-dev
  nlohmann-json3-dev fonts-noto-cjk qt6-translations-l10n)
test_pkgs=(googletest libgtest-dev libgsf-1-dev clang libclang-rt-14-dev clang-format-14 python3
  python3-xlrd python3-openpyxl python3-msoffcrypto-tool libreoffice-calc-nogui xvfb xauth
  desktop-file-utils appstream)
bench_pkgs=(libbenchmark-dev libxlsxwriter-dev python3-xlwt python3-openpyxl python3-pandas
  python3-xlsxwriter)

want=()
for set in "${@:-build}"; do
  case "$set" in
    build) want+=("${build_pkgs[@]}") ;;
    test) want+=("${build_pkgs[@]}" "${test_pkgs[@]}") ;;
    bench) want+=("${build_pkgs[@]}" "${bench_pkgs[@]}") ;;
    *) echo "unknown package set: $set" >&2; exit 64 ;;
  esac
done

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

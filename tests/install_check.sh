#!/bin/sh
# Installs a build into a scratch prefix as `cmake --install` would for a user and checks that it
# is a well-formed desktop program: the executables run from there, the desktop entry and the
# AppStream description pass their validators, the icon sits in the hicolor theme.
# Usage: install_check.sh BUILD_DIR GUI(ON|OFF) EXAMPLE_WORKBOOK
set -u
build=$1 gui=$2 example=$3
prefix=$(mktemp -d "${TMPDIR:-/tmp}/qm_install.XXXXXX") || exit 1
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
need() {
  command -v "$1" >/dev/null 2>&1 && return 0
  [ "${CI:-}" = true ] && fail "$1 is not installed (required when CI=true)"
  echo "$1 is not installed"; exit 77
}

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
[ -x "$prefix/bin/quillmere-cli" ] || fail "bin/quillmere-cli missing"
"$prefix/bin/quillmere-cli" --dump "$example" >/dev/null || fail "the installed CLI does not run"
[ "$gui" = ON ] || { echo "window not built: CLI checked only"; exit 0; }

need desktop-file-validate
need appstreamcli
[ -x "$prefix/bin/quillmere" ] || fail "bin/quillmere missing"
desktop="$prefix/share/applications/org.quillmere.Quillmere.desktop"
meta="$prefix/share/metainfo/org.quillmere.Quillmere.metainfo.xml"
[ -f "$prefix/share/icons/hicolor/scalable/apps/quillmere.svg" ] || fail "icon missing"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -q '^Categories=Office;Spreadsheet;$' "$desktop" || fail "categories"
grep -q '^Name\[zh_CN\]=' "$desktop" || fail "Chinese name"
appstreamcli validate --no-net "$meta" || fail "appstreamcli validate"
echo "installed program checked"

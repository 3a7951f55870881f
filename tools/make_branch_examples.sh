#!/usr/bin/env bash
# Writes examples/branches (the seven branch reports of the by-name merge) with the project's own
# writer, from the tables the tests use (tests/branch_reports.h). Needs a build with tests.
# Usage: tools/make_branch_examples.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
rm -rf examples/branches
mkdir -p examples/branches
QM_WRITE_BRANCHES="$PWD/examples/branches" "$build/tests/quillmere_tests" \
  --gtest_filter=ByNameExamplesTest.BranchesExampleHoldsTheTablesTheTestsUse

#!/usr/bin/env bash
# Line and branch coverage of corvale/ by the x64 suites (mock, real, stress),
# in a build tree of its own (build/linux-x64-cov, instrumented for gcov and
# unoptimised). Prints gcovr's summary, writes HTML to build/coverage/ and a
# per-file list of the lines never run to build/coverage/uncovered.txt, and
# fails when lines fall below the floor in tests/coverage-floor.
# --no-tests reports on the counts of the last run without running again.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/linux-x64-cov out=build/coverage
run_tests=1
[ "${1:-}" = --no-tests ] && run_tests=0

floor=$(sed -e 's/#.*//' tests/coverage-floor | tr -d '[:space:]')
status=0
if [ $run_tests = 1 ]; then
    command -v gcovr > /dev/null || bash scripts/setup.sh
    cmake -S . -B "$build" -DCORVALE_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug > /dev/null
    cmake --build "$build" -j "$(nproc)" > /dev/null
    find "$build" -name '*.gcda' -delete
    (cd "$build" && ctest --output-on-failure --timeout 1500 -R '^(mock|real|stress)$') || status=1
fi

rm -rf "$out"
mkdir -p "$out"
# Branches the compiler adds for exceptions are not ours: we build without them.
gcovr=(gcovr --root . --filter 'corvale/' --exclude-throw-branches "$build")
"${gcovr[@]}" --print-summary --html-details "$out/index.html" --txt "$out/coverage.txt" | tee "$out/summary.txt"
# The lines no test reaches, file by file (gcovr's "Missing" column).
awk 'NF >= 5 && $1 ~ /^corvale\// && $NF != "%" {
        file = $1; $1 = $2 = $3 = $4 = ""; sub(/^ +/, ""); if ($0 != "") print file ": " $0
     }' "$out/coverage.txt" > "$out/uncovered.txt"

lines=$(sed -n 's/^lines: \([0-9.]*\)%.*/\1/p' "$out/summary.txt")
echo "coverage: lines $lines% (floor $floor%); uncovered lines in $out/uncovered.txt, HTML in $out/index.html"
if ! awk -v l="$lines" -v f="$floor" 'BEGIN { exit !(l + 0 >= f + 0) }'; then
    echo "coverage: lines $lines% fell below the floor of $floor% (tests/coverage-floor)" >&2
    status=1
fi
exit $status

#!/usr/bin/env bash
# Builds everything and runs every test: both Linux widths (mock module,
# SoftHSM2, NSS softoken, export checks, sanitizers), the real modules' tier,
# line and branch coverage of corvale/ by the x64 suites, deskrun.dll under
# Wine, and the release (Debian packages, the jar with its natives, Maven)
# installed and used as a user would.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh --windows
status=0
for w in x64 x86; do
    echo "=== linux-$w ==="
    (cd "build/linux-$w" && ctest --output-on-failure --timeout 1500) || status=1
done
# The real modules' matrix of this run (the ctest "modules" of each width):
# build/modules-matrix.{md,csv}, and the README's copy.
python3 tests/modules/matrix.py write build README.md || status=1
if [ "${CORVALE_SKIP_SANITIZERS:-0}" != 1 ]; then
    echo "=== linux-x64 with AddressSanitizer and UndefinedBehaviorSanitizer ==="
    cmake -S . -B build/linux-x64-asan -DCORVALE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    cmake --build build/linux-x64-asan -j "$(nproc)"
    (cd build/linux-x64-asan && ctest --output-on-failure --timeout 1500) || status=1
fi
if [ "${CORVALE_SKIP_COVERAGE:-0}" != 1 ]; then
    echo "=== coverage of corvale/ (linux-x64) ==="
    bash scripts/coverage.sh || status=1
fi
if [ -x scripts/test-deskrun.sh ]; then
    echo "=== deskrun.dll ==="
    bash scripts/test-deskrun.sh || status=1
fi
echo "=== packages ==="
bash scripts/test-packages.sh || status=1
exit $status

#!/usr/bin/env bash
# Prints the path of the i386 SoftHSM2 module, extracted from Debian's package
# into the build tree given (it cannot be installed beside the amd64 one).
set -euo pipefail
. "$(dirname "$0")/lib/env.sh"
corvale_softhsm "$1" x86

#!/usr/bin/env bash
# Builds deskrun.dll (both widths) and its test programs, checks the 32-bit
# DLL's export and import tables, then runs the same behaviour tests on each
# DLL under the Wine of its width on a virtual X display: build/windows-x64
# under wine64, build/windows-x86 under 32-bit Wine. Needs:
# bash scripts/setup.sh --windows. Each width has a Wine prefix of its own,
# build/wine-prefix and build/wine-prefix-x86 (WINEARCH=win32), made on first
# use.
# Where i386 programs run through qemu-user rather than the kernel, the 32-bit
# tests run in the 64-bit prefix instead (WoW64, as on 64-bit Windows: the
# prefix's services and desktop stay native; in a 32-bit prefix, its
# winedevice and explorer die under qemu, which reports no trap number for a
# fault Wine means to handle), and every Wine run preloads
# tests/deskrun/qemu_mmap.c: without it each 32-bit process spends about a
# minute of CPU in qemu before it starts (a 32-bit prefix took 35 minutes to
# make); with it the 32-bit tests take about 25 s, the prefix with its 32-bit
# half about 20 s.
# Ends with "N passed, N failed"; exit status 1 on any failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
self="$root/scripts/$(basename "$0")"
cd "$root"

export WINEDEBUG=-all
# The 64-bit server serves 32-bit Wine too, and runs natively.
wineserver=/usr/lib/wine/wineserver
i386_through_qemu() {
    [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386
}
use_wine() {  # use_wine <x64|x86>: that width's loader ($wine), prefix and its maker ($boot)
    if [ "$1" = x86 ] && ! i386_through_qemu; then
        export WINEPREFIX="$root/build/wine-prefix-x86" WINEARCH=win32 WINELOADER=/usr/lib/wine/wine
    else
        export WINEPREFIX="$root/build/wine-prefix" WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    fi
    boot=$WINELOADER
    # x86 always takes the 32-bit loader (under qemu, in the 64-bit prefix: WoW64).
    if [ "$1" = x86 ]; then WINELOADER=/usr/lib/wine/wine; fi
    if i386_through_qemu; then  # $LIB picks the library of each process's width
        export LD_PRELOAD="$root/build/wine-qemu/\$LIB/qemu_mmap.so"
    fi
    wine=$WINELOADER
}
# A 64-bit prefix made without the 32-bit loader (as this script once did)
# lacks the 32-bit DLLs.
prefix_ready() {
    [ -f "$WINEPREFIX/.deskrun-ready" ] &&
        { [ "$WINEARCH" = win32 ] || [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; }
}

# Second stage, run under xvfb-run: everything that needs Wine and a display.
if [ "${1:-}" = "--under-display" ]; then
    use_wine "$2"
    trap '"$wineserver" -k 2>/dev/null || true' EXIT
    trap 'exit 1' INT TERM
    if ! prefix_ready; then
        echo "test-deskrun: creating the Wine prefix in ${WINEPREFIX#$root/} (first run only)"
        rm -rf "$WINEPREFIX"
        # No Mono or Gecko: nothing here needs them, and their installers ask.
        WINEDLLOVERRIDES="mscoree,mshtml=" "$boot" wineboot -i >/dev/null 2>&1 || true
        # A crash must end the program with a backtrace, not wait on a dialog.
        "$boot" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        # Xvfb runs no window manager: Wine would wait 2 s for one to confirm
        # every managed window it hides or destroys. Unmanaged windows skip that.
        "$boot" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
        "$wineserver" -w
        [ -f "$WINEPREFIX/system.reg" ] || { echo "test-deskrun: wineboot failed" >&2; exit 1; }
        touch "$WINEPREFIX/.deskrun-ready"
    fi
    cd "build/windows-$2/tests"
    rm -rf work
    "$wine" deskrun_test.exe '..\deskrun.dll' show_child.exe work
    exit
fi

for tool in xvfb-run objdump gcc /usr/lib/wine/wine64 /usr/lib/wine/wine "$wineserver"; do
    command -v "$tool" >/dev/null || { echo "test-deskrun: $tool missing; run: bash scripts/setup.sh --windows" >&2; exit 1; }
done

bash scripts/build-deskrun.sh --tests

passed=0
failed=0
# Checks set ok=1 on failure rather than fail a command: the script runs with -e.
report() {  # report <ok 0|1> <name> [details]
    if [ "$1" = 0 ]; then
        passed=$((passed + 1)); echo "ok   $2"
    else
        failed=$((failed + 1)); echo "FAIL $2"; [ -n "${3:-}" ] && printf '%s\n' "$3" | sed 's/^/     /'
    fi
    return 0
}

# ---- Export and import tables --------------------------------------------------
# objdump -p: export names follow "[Ordinal/Name Pointer] Table"; imports are
# "DLL Name:" lines, each followed by its functions.
exports_of() {
    objdump -p "$1" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' \
        | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort
}
import_dlls_of() {
    objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr 'A-Z' 'a-z' | sort
}
imports_from() {  # imports_from <dll file> <imported dll, lower case>
    objdump -p "$1" | awk -v want="$2" '
        /DLL Name:/ { name = tolower($3); next }
        name == want && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }
        /^$/ { name = "" }' | sort
}

natives=(shellExecute@32 enableWindow@20 setForegroundWindow@16 activateCurrentWindow@8 activateWindow@12 getPID@8)
want_x86=$(for n in "${natives[@]}"; do
               echo "_Java_quorvel_deskrun_Deskrun_$n"
               echo "Java_quorvel_deskrun_Deskrun_${n%@*}"
           done | sort)
want_x64=$(for n in "${natives[@]}"; do echo "Java_quorvel_deskrun_Deskrun_${n%@*}"; done | sort)

dll32=build/windows-x86/deskrun.dll
dll64=build/windows-x64/deskrun.dll

format=$(objdump -f "$dll32" | sed -n 's/.*file format //p')
arch=$(objdump -f "$dll32" | sed -n 's/^architecture: \([^,]*\).*/\1/p')
ok=0; { [ "$format" = pei-i386 ] && [ "$arch" = i386 ]; } || ok=1
report $ok "x86 deskrun.dll is PE32 i386" "format '$format', architecture '$arch'"

got=$(exports_of "$dll32")
ok=0; [ "$got" = "$want_x86" ] || ok=1
report $ok "x86 exports: the six decorated JNI names and their plain aliases" "$(diff <(echo "$want_x86") <(echo "$got") || true)"

# Each plain alias must lead to the same code as its decorated name, and the
# six natives to six different places.
export_rvas() {  # lines "<name> <rva>"
    objdump -p "$1" | sed -n '/^Export Address Table -- Ordinal Base/,/^$/p;/^\[Ordinal\/Name Pointer\] Table/,/^$/p' \
        | tr -d '[]+' | awk '/Export RVA/ { rva[$1] = $4 } NF == 2 && $1 ~ /^[0-9]+$/ { print $2, rva[$1] }'
}
rvas=$(export_rvas "$dll32")
bad=""
for n in "${natives[@]}"; do
    decorated=$(echo "$rvas" | awk -v n="_Java_quorvel_deskrun_Deskrun_$n" '$1 == n { print $2 }')
    plain=$(echo "$rvas" | awk -v n="Java_quorvel_deskrun_Deskrun_${n%@*}" '$1 == n { print $2 }')
    [ -n "$decorated" ] && [ "$decorated" = "$plain" ] || bad+=" ${n%@*}"
done
ok=0; { [ -z "$bad" ] && [ "$(echo "$rvas" | awk '{ print $2 }' | sort -u | wc -l)" = 6 ]; } || ok=1
report $ok "x86 aliases and decorated names lead to the same six functions" "mismatched:$bad"$'\n'"$rvas"

got=$(import_dlls_of "$dll32")
extra=$(echo "$got" | grep -v -x -E 'user32\.dll|kernel32\.dll|shell32\.dll|msvcrt\.dll|api-ms-win-crt-.*\.dll' || true)
ok=0; { [ -z "$extra" ] && echo "$got" | grep -qx shell32.dll && echo "$got" | grep -qx user32.dll; } || ok=1
report $ok "x86 imports only user32, kernel32, shell32 and the C runtime" "imported: $(echo $got)"

# The natives' own calls, each from its proper library; printf must be the
# runtime's, not mingw's built-in replacement.
missing=""
for f in BringWindowToTop EnableWindow EnumWindows GetDesktopWindow GetParent GetWindowThreadProcessId SetActiveWindow SetForegroundWindow; do
    imports_from "$dll32" user32.dll | grep -qx "$f" || missing+=" user32!$f"
done
imports_from "$dll32" shell32.dll | grep -qx ShellExecuteA || missing+=" shell32!ShellExecuteA"
imports_from "$dll32" kernel32.dll | grep -qx GetCurrentProcessId || missing+=" kernel32!GetCurrentProcessId"
imports_from "$dll32" msvcrt.dll | grep -qx printf || missing+=" msvcrt!printf"
ok=0; [ -z "$missing" ] || ok=1
report $ok "x86 imports the natives' Win32 functions and msvcrt's printf" "missing:$missing"

got=$(exports_of "$dll64")
ok=0; [ "$got" = "$want_x64" ] || ok=1
report $ok "x64 exports: the six JNI names" "$(diff <(echo "$want_x64") <(echo "$got") || true)"

# ---- Behaviour under Wine, each width -------------------------------------------
# behaviour <x64|x86> <Wine's name> <seconds allowed>
behaviour() {
    local log=build/windows-$1/tests/wine-test.log status summary
    set +e
    # The Windows C runtime ends lines with CR LF.
    timeout "$3" xvfb-run -a bash "$self" --under-display "$1" 2>&1 | tr -d '\r' | sed "s/^/$1 /" | tee "$log"
    status=${PIPESTATUS[0]}
    (use_wine "$1"; "$wineserver" -k 2>/dev/null)
    set -e
    summary=$(grep -E "^$1 [0-9]+ passed, [0-9]+ failed$" "$log" | tail -n 1 || true)
    if [ -n "$summary" ]; then
        passed=$((passed + $(echo "$summary" | cut -d' ' -f2)))
        failed=$((failed + $(echo "$summary" | cut -d' ' -f4)))
    fi
    if [ -z "$summary" ] || { [ "$status" != 0 ] && [ "$(echo "$summary" | cut -d' ' -f4)" = 0 ]; }; then
        report 1 "behaviour tests of the $1 DLL under $2 ran to the end" "exit status $status"
    fi
}
if i386_through_qemu; then
    # The fix for qemu's mmap that every Wine run preloads, one library per
    # width (see use_wine).
    for lib in i386-linux-gnu:-m32 x86_64-linux-gnu:-m64; do
        mkdir -p "build/wine-qemu/lib/${lib%%:*}"
        gcc "${lib#*:}" -O2 -Wall -Wextra -Werror -shared -fPIC \
            -o "build/wine-qemu/lib/${lib%%:*}/qemu_mmap.so" tests/deskrun/qemu_mmap.c
    done
fi
behaviour x64 wine64 900

if i386_through_qemu; then
    DESKRUN_CHILD_WAIT=120 behaviour x86 "32-bit Wine under qemu-user (WoW64 prefix)" 900
else
    behaviour x86 "32-bit Wine" 1800
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

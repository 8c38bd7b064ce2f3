#!/usr/bin/env bash
# The modules tier of one width: one scenario (corvaletest.modules.ModuleScenario)
# against every real module through libcorvale in a real JVM with -Xcheck:jni,
# then the demo's tour on the same module. Writes the width's cells to
# BUILD/modules/cells.csv (logs beside it), compares them with
# tests/modules/expected.csv and rewrites build/modules-matrix.{md,csv}.
#
# Everything runs in private mount, network, IPC and PID namespaces (so as
# root): the services started here (pcscd with the virtual reader, the virtual
# PIV card, swtpm with its access broker and a D-Bus for it, pkcsslotd) listen
# on a loopback or sockets of their own, are stopped by their process ids and
# end with the namespace at the latest; opencryptoki's store, sockets, locks
# and shared memory (System V and /dev/shm), and pcscd's socket (pcsc-lite
# 1.9's daemon has a fixed path and ignores PCSCLITE_CSOCK_NAME), are the
# test's own. Nothing of the machine's stores changes.
set -euo pipefail
: "${CORVALE_BUILD:?}" "${CORVALE_SOURCE:?}"
# shellcheck source=../../scripts/lib/env.sh
. "$CORVALE_SOURCE/scripts/lib/env.sh"
width=x64
[ "${CORVALE_M32:-0}" = 1 ] && width=x86
corvale_width $width
out=$CORVALE_BUILD/modules
# CORVALE_MODULES="name ...": only those (the others' cells are then missing).
read -r -a modules <<< "${CORVALE_MODULES:-softhsm2 softoken pkcs11-spy opencryptoki tpm2_pkcs11 opensc-pkcs11 ykcs11}"
card_pin=123456  # tests/modules/card.py's PIN at each start

# ---- Inside the namespaces ----------------------------------------------------
if [ "${1:-}" = --inside ]; then
    work=$2
    ip link set lo up
    # POSIX shared memory of our own (opencryptoki keeps its tokens' there):
    # a fresh /dev/shm, with this run's directory bound back into it.
    mount --bind /dev/shm /mnt
    mount -t tmpfs -o mode=1777 tmpfs /dev/shm
    mkdir -p "$work"
    mount --bind "/mnt/${work#/dev/shm/}" "$work"
    # Sockets, pid files and locks of pcscd and pkcsslotd (/var/run and
    # /var/lock lead here too), and opencryptoki's token store.
    mkdir -p "$work/run/lock/opencryptoki" "$work/ock/swtok/TOK_OBJ"
    mount --bind "$work/run" /run
    mount --bind "$work/ock" /var/lib/opencryptoki
    if [ $width = x86 ]; then
        # Under qemu, readdir on ext4 fails (EOVERFLOW), and javax.crypto lists
        # the JDK's policy directory: give the i386 JVM a tmpfs copy of it.
        policy=$CORVALE_JDK_X86/conf/security/policy
        cp -rL "$policy" "$work/jdk-policy"
        mount --bind "$work/jdk-policy" "$policy"
    fi
    # The virtual PIV card (tests/modules/card.py) keeps its keys here, made by
    # its first start and used by both card modules; OpenSC drives it with its
    # PIV driver only, its file cache off.
    printf 'app default {\n  card_drivers = PIV-II;\n  reader_driver pcsc { enable_pinpad = false; }\n  framework pkcs15 { use_file_caching = no; }\n}\n' \
        > "$work/opensc.conf"

    waitfor() {  # waitfor SECONDS TEST...: until the test holds
        local end=$((SECONDS + $1))
        shift
        until "$@"; do
            [ $SECONDS -lt $end ] || return 1
            sleep 0.2
        done
    }
    port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
    card_in() { "$CORVALE_BUILD/tests/bin/p11probe" --symbols "$1" 2>/dev/null | grep -q '^token'; }
    on_bus() {
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.ListNames 2>/dev/null | grep -q "\"$1\""
    }

    # run_module NAME: one module in its own directory; prints its cells.
    run_module() {
        local name=$1 dir=$work/$1 file card="" so_pin=87654321 pin=3579 params=() started=$SECONDS demo_args
        corvale_modules "$dir" "$CORVALE_BUILD" $width real
        export HOME=$dir
        case $name in
            softhsm2) file=$softhsm ;;
            softoken) file=$lib/libsoftokn3.so; so_pin="" ;;
            pkcs11-spy)
                file=$lib/pkcs11/pkcs11-spy.so
                export PKCS11SPY=$softhsm PKCS11SPY_OUTPUT=$dir/spy.log ;;
            opencryptoki)
                file=$ock_dir/opencryptoki/libopencryptoki.so.0
                export LD_LIBRARY_PATH=$ock_dir:$LD_LIBRARY_PATH
                "$slotd"
                waitfor 60 test -S /run/pkcsslotd.socket ;;
            tpm2_pkcs11)
                # swtpm, and its access broker on a private D-Bus: without one, a
                # TPM's three transient object slots fill with the first keys made.
                file=$tpm
                mkdir -p "$dir/tpm-state" "$dir/tpm-store"
                timeout 1200 swtpm socket --tpm2 --tpmstate dir="$dir/tpm-state" --flags not-need-init,startup-clear \
                    --server type=tcp,port=2321,bindaddr=127.0.0.1 --ctrl type=tcp,port=2322,bindaddr=127.0.0.1 \
                    > "$dir/swtpm.log" 2>&1 &
                echo $! > "$dir/swtpm.pid"
                waitfor 30 port_open 2322
                printf '<busconfig><type>session</type><listen>unix:path=%s/bus</listen><auth>EXTERNAL</auth>%s</busconfig>\n' \
                    "$dir" '<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>' > "$dir/bus.conf"
                timeout 1200 dbus-daemon --config-file="$dir/bus.conf" --nofork > "$dir/dbus.log" 2>&1 &
                echo $! > "$dir/dbus.pid"
                waitfor 30 test -S "$dir/bus"
                export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
                timeout 1200 tpm2-abrmd --session --allow-root --flush-all --tcti=swtpm:host=127.0.0.1,port=2321 \
                    > "$dir/abrmd.log" 2>&1 &
                echo $! > "$dir/abrmd.pid"
                waitfor 30 on_bus com.intel.tss2.Tabrmd
                export TPM2_PKCS11_TCTI=tabrmd:bus_type=session TPM2_PKCS11_STORE=$dir/tpm-store
                export TPM2_PKCS11_LOG_LEVEL=${TPM2_PKCS11_LOG_LEVEL:-0} ;;
            opensc-pkcs11|ykcs11)
                # The virtual reader, named so that ykcs11 2.2 looks at it (it
                # lists only readers whose names begin with "Yubico").
                file=$lib/pkcs11/opensc-pkcs11.so
                [ $name = ykcs11 ] && file=$ykcs11
                mkdir -p "$dir/readers"
                printf 'FRIENDLYNAME "Yubico Virtual PCD"\nDEVICENAME /dev/null:35963\nLIBPATH /usr/lib/pcsc/drivers/serial/libifdvpcd.so\nCHANNELID 35963\n' \
                    > "$dir/readers/vpcd"
                rm -f /run/pcscd/pcscd.comm
                timeout 1200 pcscd --foreground -c "$dir/readers" > "$dir/pcscd.log" 2>&1 &
                echo $! > "$dir/pcscd.pid"
                waitfor 30 test -S /run/pcscd/pcscd.comm
                export OPENSC_CONF=$work/opensc.conf
                params=(--user-pin "$card_pin")  # the card's own, which it cannot initialise
                pin=$card_pin
                card="timeout 600 /usr/bin/python3 $CORVALE_SOURCE/tests/modules/card.py 35963 $work/card" ;;
        esac
        # The demo initialises a token with the SO PIN, or uses a card as it is with its user PIN.
        demo_args=(--so-pin "$so_pin" --pin "$pin")
        [ -n "$card" ] && demo_args=(--pin "$pin")
        [ -e "$dir/libs/lib$name.so" ] || ln -s "$file" "$dir/libs/lib$name.so"
        local java_run=("$java" -Xcheck:jni "${jvm_flags[@]}" -Dcorvale.library="$CORVALE_BUILD/libcorvale.so.0")
        cd "$dir/run"
        local status=0
        timeout 900 "${java_run[@]}" -Dcorvale.build="$CORVALE_BUILD" -Dcorvale.module.path="$file" \
            -Dcorvale.work="$dir" -Dcorvale.card="$card" -cp "$CORVALE_BUILD/java/classes:$CORVALE_BUILD/tests/classes" \
            corvaletest.modules.ModuleScenario "$name" --so-pin "$so_pin" "${params[@]}" > "$dir/scenario.out" 2>&1 || status=$?
        sed -n 's/^CELL|//p' "$dir/scenario.out"
        # The process as a whole: ended by itself, no JNI warning, no crash.
        local problem=""
        [ $status = 0 ] || problem="exit-$status"
        grep -qE 'WARNING in native method|WARNING: JNI|FATAL ERROR in native method|A fatal error has been detected' "$dir/scenario.out" \
            && problem="jni-warning"
        if [ $name = pkcs11-spy ] && ! grep -q C_GenerateKeyPair "$dir/spy.log" 2>/dev/null; then
            problem="spy-log"  # the calls must really have gone through the spy
        fi
        if [ -z "$problem" ]; then echo "clean|ok|jvm|"; else echo "clean|failed|$problem|see $name/scenario.out"; fi

        # The demo's tour on the same module, as a user would start it (with the card in).
        if [ -n "$card" ]; then
            $card > "$dir/card-demo.log" 2>&1 &
            echo $! > "$dir/card.pid"
            waitfor 60 card_in "$file"
        fi
        status=0
        timeout 900 "${java_run[@]}" -cp "$work/demo-classes:$CORVALE_BUILD/java/classes" CorvaleDemo \
            --module "$name" "${demo_args[@]}" > "$dir/demo.out" 2>&1 || status=$?
        local tour
        tour=$(grep -E '^Tour: ' "$dir/demo.out" | tail -n 1 || true)
        if grep -qE 'WARNING in native method|WARNING: JNI|FATAL ERROR in native method' "$dir/demo.out"; then
            echo "demo|failed|jni-warning|see $name/demo.out"
        elif [ $status != 0 ]; then
            echo "demo|failed|exit-$status|$tour"
        elif [ "$tour" = "Tour: no token to use" ]; then
            echo "demo|absent|no-token|$tour"
        elif [ -n "$tour" ]; then
            echo "demo|ok|tour|$tour"
        else
            echo "demo|failed|no-summary|see $name/demo.out"
        fi
        echo "seconds|ok|time|$((SECONDS - started))"

        [ -e /run/pkcsslotd.pid ] && kill "$(cat /run/pkcsslotd.pid)" && waitfor 30 test ! -e /run/pkcsslotd.socket
        for p in "$dir"/*.pid; do
            [ -e "$p" ] || continue
            kill "$(cat "$p")" 2>/dev/null || true
        done
        wait
    }

    for m in "${modules[@]}"; do
        (run_module "$m" || echo "clean|failed|setup|the module's setup failed") 2>&1 \
            | grep -E '^[a-z0-9-]+\|(ok|absent|failed)\|' | sed "s/^/$m|$width|/" >> "$work/cells"
    done
    exit 0
fi

# ---- Outside ------------------------------------------------------------------
work=$(mktemp -d /dev/shm/corvale-modules.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The module files (extracting i386 packages needs the network the namespace lacks).
if [ $width = x86 ]; then
    lib=/usr/lib/i386-linux-gnu
    tpm=$(corvale_i386_package "$CORVALE_BUILD" libtpm2-pkcs11-1)/usr/lib/i386-linux-gnu/libtpm2_pkcs11.so.1
    ock_dir=$(corvale_i386_package "$CORVALE_BUILD" libopencryptoki0)/usr/lib/i386-linux-gnu
    # The i386 library reads the slot daemon's shared memory in its own
    # layout: it needs the i386 daemon.
    slotd=$(corvale_i386_package "$CORVALE_BUILD" opencryptoki)/usr/sbin/pkcsslotd
    ykcs11=$(corvale_i386_package "$CORVALE_BUILD" ykcs11)/usr/lib/i386-linux-gnu/libykcs11.so.2
else
    lib=/usr/lib/x86_64-linux-gnu
    tpm=$lib/pkcs11/libtpm2_pkcs11.so
    ock_dir=$lib
    slotd=/usr/sbin/pkcsslotd
    ykcs11=$lib/libykcs11.so.2
fi
corvale_softhsm "$CORVALE_BUILD" $width > /dev/null
export lib tpm ock_dir slotd ykcs11 card_pin
"$CORVALE_JAVAC" -nowarn -d "$work/demo-classes" -cp "$CORVALE_BUILD/java/classes" "$CORVALE_SOURCE"/demo/*.java
touch "$work/cells"
status=0
timeout 2400 unshare --mount --net --ipc --pid --fork --mount-proc --propagation private \
    "$0" --inside "$work" || status=$?
rm -rf "$out"
mkdir -p "$out/logs"
cp "$work/cells" "$out/cells.psv"
for m in "${modules[@]}"; do
    [ -d "$work/$m" ] || continue
    mkdir -p "$out/logs/$m"
    cp "$work/$m"/*.out "$work/$m"/*.log "$out/logs/$m/" 2>/dev/null || true
done
[ $status = 0 ] || echo "modules: the namespaced run ended with status $status" >&2
python3 "$CORVALE_SOURCE/tests/modules/matrix.py" check "$out/cells.psv" "$CORVALE_SOURCE/tests/modules/expected.csv" \
    "$out/cells.csv" || status=1
python3 "$CORVALE_SOURCE/tests/modules/matrix.py" write "$CORVALE_BUILD/.." || true
exit $status

# Sourced by the test, demo, soak, packaging, deskrun and benchmark scripts:
# the JDKs, how each width's JVM runs, the sanitizer environment, and the
# module setup (token directory, SoftHSM2 configuration, library links, i386
# modules extracted from Debian's packages). Defines variables and functions
# only.

CORVALE_JDK_X64=/usr/lib/jvm/java-17-openjdk-amd64
CORVALE_JDK_X86=/usr/lib/jvm/java-17-openjdk-i386
CORVALE_JAVAC=$CORVALE_JDK_X64/bin/javac

# corvale_width x64|x86: sets java, jvm_flags (an array) and multiarch.
# The i386 JVM runs interpreted with the serial collector: where i386 programs
# run under qemu-user its JIT crashes now and then, and startup is faster.
corvale_width() {
    case $1 in
        x64) java=$CORVALE_JDK_X64/bin/java; jvm_flags=(); multiarch=x86_64-linux-gnu ;;
        x86) java=$CORVALE_JDK_X86/bin/java; jvm_flags=(-Xint -XX:+UseSerialGC); multiarch=i386-linux-gnu ;;
        *) echo "corvale_width: x64 or x86, not '$1'" >&2; return 1 ;;
    esac
}

# The JVM itself is not instrumented: preload the runtime, leave SEGV
# handling to the JVM, and skip leak checking at its exit. An absurd
# allocation fails as it would with the system's malloc.
corvale_sanitizer_env() {
    LD_PRELOAD=$(g++ -print-file-name=libasan.so)
    export LD_PRELOAD
    export ASAN_OPTIONS=handle_segv=0:detect_leaks=0:abort_on_error=1:allocator_may_return_null=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
}

# corvale_i386_package BUILD PACKAGE: the i386 build of a Debian package that
# cannot be installed beside its amd64 one, extracted into BUILD/i386/PACKAGE
# (the directory is printed). Its own i386 library dependencies can, and are
# installed.
corvale_i386_package() {
    local dir=$1/i386/$2 tmp dep st want=()
    if [ ! -e "$dir/.extracted" ]; then
        tmp=$(mktemp -d)
        (cd "$tmp" && apt-get download -q "$2:i386" >/dev/null 2>&1) || {
            apt-get update -qq && (cd "$tmp" && apt-get download -q "$2:i386" >/dev/null); }
        rm -rf "$dir"
        mkdir -p "$dir"
        dpkg-deb -x "$tmp"/*_i386.deb "$dir"
        for dep in $(dpkg-deb -f "$tmp"/*_i386.deb Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g'); do
            case $dep in lib*) ;; *) continue ;; esac
            st=$(dpkg-query -W -f='${Status}' "$dep:i386" 2>/dev/null || true)
            [ "$st" = "install ok installed" ] || want+=("$dep:i386")
        done
        rm -rf "$tmp"
        # One by one, and never removing anything: a dependency that cannot
        # live beside its amd64 build (libtspi1, needed only by opencryptoki's
        # TPM 1.2 token) is left out.
        for dep in "${want[@]}"; do
            DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-remove \
                --no-install-recommends "$dep" >/dev/null 2>&1 || echo "i386 modules: left out $dep (it cannot be installed beside its amd64 build)" >&2
        done
        touch "$dir/.extracted"
    fi
    echo "$dir"
}

# corvale_softhsm BUILD x64|x86: the SoftHSM2 module file of that width.
corvale_softhsm() {
    if [ "$2" = x86 ]; then
        echo "$(corvale_i386_package "$1" libsofthsm2)/usr/lib/i386-linux-gnu/softhsm/libsofthsm2.so"
    else
        echo /usr/lib/softhsm/libsofthsm2.so
    fi
}

# corvale_modules WORK BUILD x64|x86 real|mock: a module directory for one
# run in WORK (which should be on tmpfs: the i386 SoftHSM lists its token
# directory, and readdir on ext4 fails under qemu). Makes WORK/libs, with
# links serving the module names softhsm2, kulm and softoken (the mock module
# for the last two with "mock"), WORK/tokens, a SoftHSM2 configuration, and
# WORK/run/.softoken for NSS (run the JVM in WORK/run). Exports SOFTHSM2_CONF
# and puts WORK/libs first on LD_LIBRARY_PATH. Sets softhsm to the module file.
corvale_modules() {
    local work=$1 build=$2 width=$3
    corvale_width "$width"
    mkdir -p "$work/libs" "$work/tokens" "$work/run/.softoken"
    softhsm=$(corvale_softhsm "$build" "$width")
    if [ "$4" = mock ]; then
        ln -sf "$build/tests/lib/libmock.so" "$work/libs/libsoftoken.so"
        ln -sf "$build/tests/lib/libmock.so" "$work/libs/libkulm.so"
    else
        ln -sf "/usr/lib/$multiarch/libsoftokn3.so" "$work/libs/libsoftoken.so"
        ln -sf "$softhsm" "$work/libs/libkulm.so"
        ln -sf "$softhsm" "$work/libs/libsofthsm2.so"
    fi
    printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
        "$work/tokens" > "$work/softhsm2.conf"
    export SOFTHSM2_CONF=$work/softhsm2.conf
    export LD_LIBRARY_PATH=$work/libs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
}

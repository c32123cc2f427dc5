# Sourced by scripts/setup-windows.sh and run_wine_tests.sh: which Wine runs
# the Windows program here. The 32-bit program is the product and runs
# under 32-bit Wine wherever that can start; else the 64-bit build of the
# same sources runs under 64-bit Wine.
#
# why_not_wine32 prints why 32-bit Wine cannot run here, and nothing where
# it can.
why_not_wine32() {
    # Wine runs a 32-bit program as a 32-bit Linux process, which some
    # kernels (and virtual machines) cannot start.
    if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        echo "this machine cannot start 32-bit programs"
    elif [ ! -e /usr/lib/wine/wine ]; then
        echo "32-bit Wine (wine32:i386) is not installed here"
    elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "32-bit Wine is installed but cannot start"
    fi
}

# why_win64 prints why the 64-bit build runs, and nothing where the 32-bit
# program does.
why_win64() {
    if [ "${VELLIX_WINE_BUILD:-}" = win64 ]; then
        echo "VELLIX_WINE_BUILD=win64 asked for it"
    else
        why_not_wine32
    fi
}

# Sourced by the other scripts.
#   need_packages P...  installs with apt-get the Debian packages among P
#                       that are missing, and fails when it cannot.
#   want_packages P...  the same, but a package that cannot be had is said
#                       on standard error and the call returns 1; the script
#                       goes on.
# An :i386 package adds the i386 architecture first.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

missing_packages() {
    local p
    for p in "$@"; do
        dpkg -s "$p" >/dev/null 2>&1 || printf '%s\n' "$p"
    done
}

# A registry in the middle of a sync answers with an index of the wrong size
# for a minute or so: try again after a pause. An index that stays out of
# reach does not stop us; the install that follows says plainly whether
# what we need can be had without it.
refresh_package_lists() {
    local attempt
    for attempt in 1 2 3; do
        $sudo apt-get update -qq && return 0
        [ "$attempt" -lt 3 ] && { echo "apt-get update failed; trying again in 10 s" >&2; sleep 10; }
    done
    echo "apt-get update still fails; going on with the package lists there are" >&2
    return 0
}

install_packages() { # quiet: 1 to keep apt's errors to itself
    local quiet=$1; shift
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -gt 0 ] || return 0
    if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
        packages_refreshed=""
    fi
    echo "installing ${missing[*]}"
    if [ -z "${packages_refreshed:-}" ]; then
        refresh_package_lists
        packages_refreshed=1
    fi
    if [ "$quiet" = 1 ]; then
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1
    else
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

need_packages() {
    install_packages 0 "$@"
}

want_packages() {
    install_packages 1 "$@" && return 0
    echo "could not install $*; going on without" >&2
    return 1
}

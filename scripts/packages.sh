# Sourced by the other scripts: need_packages P... installs with apt-get the
# Debian packages among P that are missing (adding the i386 architecture
# first when one of them is an :i386 package).
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    echo "installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Shared by the README's commands: installs missing packages and builds out of tree.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VIRELON_BUILD_DIR:-$top/build}

ensure_packages() {
    local missing=()
    local package
    while read -r package; do
        [[ -z $package || $package == \#* ]] && continue
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done < "$top/scripts/packages"
    ((${#missing[@]})) || return 0
    local as=()
    if [[ $(id -u) -ne 0 ]]; then
        local lack= way=
        if ! command -v sudo >/dev/null; then
            lack="sudo is not installed" way="as root"
        # Without a terminal sudo can ask for no password, and its own refusal names no package.
        elif ! sudo -n true 2>/dev/null && ! { : </dev/tty; } 2>/dev/null; then
            lack="sudo has no terminal to ask for a password on" way="from a terminal or as root"
        fi
        if [[ -n $lack ]]; then
            echo "Missing Debian packages: ${missing[*]}; installing them takes root and $lack:" \
                "run this $way, or have root run apt-get install ${missing[*]}" >&2
            exit 1
        fi
        as=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    # sudo passes no environment on: the variable goes through env.
    "${as[@]}" apt-get update -qq
    "${as[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_tree() {
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

compile_tree() {
    cmake --build "$build" -j"$(nproc)"
}

build_tree() {
    configure_tree "$@"
    compile_tree
}

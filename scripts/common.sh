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
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        local sudo=
        [[ $(id -u) -eq 0 ]] || sudo=sudo
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

build_tree() {
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$build" -j"$(nproc)"
}

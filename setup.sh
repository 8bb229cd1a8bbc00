# Shared by run.sh and test.sh: installs what is missing and builds a tree.
# Sourced, not run.

QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# qt6-translations-l10n: Qt's own Polish texts (the boxes' buttons, the file dialog).
QV_PACKAGES=(cmake ninja-build g++ qt6-base-dev libgl-dev fonts-liberation qt6-translations-l10n)

qv_install_deps() {
    local missing=()
    for p in "${QV_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# qv_build DIR [cmake options...] [-- targets...]: configures once, then
# builds incrementally (everything, or the targets given).
qv_build() {
    local dir="$QV_ROOT/$1"; shift
    local options=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$QV_ROOT" -B "$dir" -G Ninja "${options[@]}"
    fi
    cmake --build "$dir" -j "$(nproc)" ${1:+--target "$@"}
}

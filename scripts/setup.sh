# Shared by scripts/run and scripts/test: installs the Debian packages the
# build needs when any is missing, then configures and builds into build/.
set -euo pipefail

ORVELLA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ORVELLA_BUILD=${ORVELLA_BUILD:-$ORVELLA_ROOT/build}

ORVELLA_PACKAGES=(
    cmake g++ make pkg-config
    qtbase5-dev qtbase5-dev-tools qtmultimedia5-dev libqt5multimedia5-plugins
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    libbenchmark-dev
    libhttp-parser-dev
    fonts-dejavu-extra
)

orvella_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

orvella_build() {
    cmake -S "$ORVELLA_ROOT" -B "$ORVELLA_BUILD" "$@"
    cmake --build "$ORVELLA_BUILD" --parallel "$(nproc)"
}

# Shared by scripts/run and scripts/test: installs the Debian packages the
# build needs when any is missing, then configures and builds into build/.
set -euo pipefail

ORVELLA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ORVELLA_BUILD=${ORVELLA_BUILD:-$ORVELLA_ROOT/build}

ORVELLA_PACKAGES=(
    cmake g++ make pkg-config
    qtbase5-dev qtbase5-dev-tools qtmultimedia5-dev libqt5multimedia5-plugins
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libturbojpeg0-dev libjpeg-dev libyuv-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-libav gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly
    libbenchmark-dev
    libhttp-parser-dev
    fonts-dejavu-extra
    libcurl4-openssl-dev libglib2.0-dev
    libmosquitto-dev
)

# Checking the installed desktop files and building the Debian packages
# (scripts/test and scripts/package).
ORVELLA_PACKAGING_PACKAGES=(
    desktop-file-utils appstream groff-base dpkg-dev fakeroot file
)

# Only the tests need these (scripts/test installs them): GStreamer's RTSP
# server library for the cameras they serve, the SMTP server that receives the
# relay's mail, and ffmpeg, whose ffprobe and ffmpeg look at event clips as a
# player does; OpenCV, a yardstick for the filter benchmarks built with the
# tests (the program never links it), with the footage its documentation
# ships for the clip benchmark; and the MQTT broker the push tests publish
# to, with openssl for its TLS certificate. The H.264 encoder the tests'
# cameras use, x264enc, is the one the capture library encodes event clips
# with (gstreamer1.0-plugins-ugly, above).
ORVELLA_TEST_PACKAGES=(
    gstreamer1.0-tools
    libgstrtspserver-1.0-dev
    python3-aiosmtpd
    ffmpeg
    libopencv-dev opencv-doc
    mosquitto openssl
)

# Only bench/alert_quality needs these (it installs them when missing): the
# public clips its suite is made from, the tool that makes it, and Motion,
# the peer it is measured against.
ORVELLA_BENCH_PACKAGES=(
    opencv-doc ffmpeg motion
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

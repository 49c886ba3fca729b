# Debian packages with CPack: one package per install component. The program's
# rules use COMPONENT orvella (package "orvella"), the server's COMPONENT
# server (package "orvella-server"). Build with scripts/package, or
# `cpack --config <build>/CPackConfig.cmake`.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvella)
set(CPACK_PACKAGE_VENDOR Kelvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kelvane <orvella@${ORVELLA_SERVER_HOST}>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ORVELLA_HOMEPAGE})
# Library dependencies come from the binaries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The package-wide values are the program's and the server's override them,
# because CPack packs a lone component without its component settings.
set(CPACK_DEBIAN_ORVELLA_PACKAGE_NAME orvella)
# Loaded at run time, so invisible to dpkg-shlibdeps: the GStreamer elements
# the capture library builds its pipelines from (converters and V4L2 sources,
# decoders for compressed cameras and streams), and Qt's media back-end that
# plays OGG alert sounds.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav, gstreamer1.0-plugins-bad, libqt5multimedia5-plugins")
# The window's fixed layout is drawn for this font.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-extra)
# Descriptions: the summary line, then the long text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "webcam motion alert utility
Orvella watches a room through a webcam and tells you when the picture
changes. It shows the live picture beside a difference image, saves frames
as JPEG files and plays a sound or sends an e-mail alert when the level of
change reaches a threshold.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME orvella-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "")
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "")
set(CPACK_DEBIAN_SERVER_DESCRIPTION "web server for Orvella's e-mail relay and update check
The server side of Orvella: it answers the program's update lookups and
relays its e-mail alerts.")

include(CPack)

# The Debian package: `cpack -G DEB` in the build folder, or scripts/package. Its
# dependencies are found from the libraries the programs link (dpkg-shlibdeps), plus the
# lame program the MP3 steps run.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellorine)
set(CPACK_PACKAGE_VENDOR "The Vellorine developers")
set(CPACK_PACKAGE_CONTACT "The Vellorine developers <vellorine@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio-CD ripper and audio converter")
set(CPACK_PACKAGE_DESCRIPTION
    "Vellorine lists the tracks of an audio CD and extracts them to WAV, MP3, Ogg Vorbis or WMA
files, with ID3 tags and titles from a CDDB server. It also converts WAV to MP3, MP3 to WAV,
WAV to Ogg Vorbis and WAV to WMA, resamples WAV files, records from the sound card, plays
Ogg Vorbis files and CD tracks, and edits ID3 tags.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS lame)
# The SVG icon engine draws the icon; the volume control and the sound server are the
# desktop's own.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6, pipewire-pulse | pulseaudio, pavucontrol")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VELLORINE_HOMEPAGE}")
include(CPack)

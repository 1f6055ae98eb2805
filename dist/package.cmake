# The Debian package "vellox-editor": everything the install rules of every
# folder lay out, in one package (cpack -G DEB, or the "package" target).
# Build it with -DCMAKE_INSTALL_PREFIX=/usr, the prefix the editor then
# recognises as its installed folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellox-editor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vellox editor developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "editor for the vellox USB MIDI controller")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VLX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary is the first line of the description; the rest follows it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A desktop editor for the vellox, a small USB MIDI controller with
16 pads in two banks, one slider, four knobs and eight global settings. It
edits the controller's profile control by control, reads it out of the
controller and writes it back, keeps profiles in .cus files and shows the
MIDI messages the controller sends.
.
It talks MIDI through the ALSA sequencer (the kernel's snd-seq module), or
through a running JACK server when the sequencer cannot be opened. A demo
with a virtual controller runs without the hardware, and vellox-sim plays
the controller on a JACK server for the editor and vellox-cli; vellox-cli
doctor says why a controller is not found.")
# Libraries come from the programs' links; the window's font and Qt's
# window-system plug-ins are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, qt6-qpa-plugins")
# amidi and aconnect (alsa-utils) send a .syx dump and show the sequencer's
# ports; Qt's Wayland plug-in lets the window run on a Wayland session (Qt
# otherwise aborts there when QT_QPA_PLATFORM=wayland is set); the MIME
# database makes .cus files open in the editor. A JACK server is needed only
# where the sequencer is not there.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "alsa-utils, qt6-wayland, shared-mime-info")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jackd2")
include(CPack)

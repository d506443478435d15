# The Debian packages virude-dump and virude (which depends on it), one per install component,
# made by `cpack -G DEB`. scripts/deb.sh builds them from a Release build with Debian's
# hardening flags and checks them with lintian.
set(VIRUDE_PACKAGE_MAINTAINER "Virude developers <virude@example.org>"
    CACHE STRING "The Maintainer field of the Debian packages")

# Each package's documentation folder: the copyright (machine-readable) and the Debian
# changelog, compressed as Debian wants it (gzip -9n: no name, no time stamp).
set(debian_changelog ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog)
set(debian_version ${PROJECT_VERSION}-1)
file(STRINGS ${debian_changelog} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^virude \\(${debian_version}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog starts with \"${changelog_head}\"; "
                        "its first entry must be version ${debian_version}")
endif()
add_custom_command(OUTPUT changelog.Debian.gz
                   COMMAND gzip -9n -c ${debian_changelog} > changelog.Debian.gz
                   DEPENDS ${debian_changelog} VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS changelog.Debian.gz)
foreach(component IN LISTS virude_components)
    set(doc ${CMAKE_INSTALL_DATADIR}/doc/${component})
    install(FILES copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz DESTINATION ${doc}
            COMPONENT ${component})
    # Tags lintian reports that do not apply here, each with its reason.
    set(overrides ${CMAKE_CURRENT_SOURCE_DIR}/debian/${component}.lintian-overrides)
    if(EXISTS ${overrides})
        install(FILES ${overrides} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
                RENAME ${component} COMPONENT ${component})
    endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME virude)
set(CPACK_PACKAGE_VENDOR "Virude developers")
set(CPACK_PACKAGE_CONTACT ${VIRUDE_PACKAGE_MAINTAINER})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${virude_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Library dependencies come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs stripped (strip.cmake); the packages carry no debugging information.
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_VIRUDE-DUMP_PACKAGE_NAME virude-dump)
set(CPACK_DEBIAN_VIRUDE-DUMP_DESCRIPTION
    "read four services of a FeliCa card as hex dumps (command line)
virude-dump reads a FeliCa card of the card system 0x802B through a FeliCa
reader and prints the raw contents of four of the card's services as hex
dumps, one 16-byte block per line. It only reads: it never writes to a card
and never authenticates.

It reads through PC/SC readers (Sony RC-S300, ACS ACR122U and others), the
Sony RC-S380 directly on USB, and PN532 and PN533 readers through libnfc.
This package holds the command line, the helper that runs libnfc and the
udev rule that lets the logged-in user open an RC-S380; the window is in the
package virude.")
# PC/SC readers need the service and the CCID driver; libnfc readers and the RC-S380 neither.
set(CPACK_DEBIAN_VIRUDE-DUMP_PACKAGE_RECOMMENDS "pcscd, libccid")

set(CPACK_DEBIAN_VIRUDE_PACKAGE_NAME virude)
set(CPACK_DEBIAN_VIRUDE_DESCRIPTION
    "read four services of a FeliCa card as hex dumps (window)
Virude reads a FeliCa card of the card system 0x802B through a FeliCa reader
and shows the raw contents of four of the card's services as hex dumps, one
16-byte block per line, in a small window: put the card on the reader and
click READ. It only reads: it never writes to a card and never authenticates.

This package holds the window. The helper it starts for libnfc readers, the
RC-S380's udev rule and the same read on the command line are in the package
virude-dump.")
# The window needs virude-dump of the same version (its libnfc helper, the udev rule), and a
# font with the window's Japanese texts.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_VIRUDE_DEPENDS virude-dump)
set(CPACK_DEBIAN_VIRUDE_PACKAGE_DEPENDS "fonts-ipafont-gothic | fonts-noto-cjk")
include(CPack)

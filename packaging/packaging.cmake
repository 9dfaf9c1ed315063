# Installation of the data files (menu entry, icon, manual pages, Wireshark dissector) and the
# Debian package built by `cpack -G DEB`. The programs install themselves from their own
# folders; this file is included after them so that it sees which ones are built.
include(GNUInstallDirs)

set(_qvlink_packaging_src ${CMAKE_CURRENT_LIST_DIR})
set(_qvlink_packaging_out ${PROJECT_BINARY_DIR}/packaging)

# Wireshark and tshark load every Lua script in their global plugin folder, $libdir/wireshark/
# plugins, where Debian's $libdir carries the multiarch triplet (`tshark -G folders`, line
# "Global Lua Plugins"). Relative to the install prefix: it is that folder with prefix /usr.
if(CMAKE_LIBRARY_ARCHITECTURE)
    set(_qvlink_wireshark_plugins lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
else()
    set(_qvlink_wireshark_plugins lib/wireshark/plugins)
endif()
set(QVLINK_WIRESHARK_PLUGIN_DIR ${_qvlink_wireshark_plugins}
    CACHE STRING "Where the Lua dissector is installed, relative to the install prefix")
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/qvlink.lua
        DESTINATION ${QVLINK_WIRESHARK_PLUGIN_DIR})

if(TARGET qvlink-monitor)
    install(FILES ${_qvlink_packaging_src}/qvlink-monitor.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${_qvlink_packaging_src}/qvlink-monitor.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The package installs below /usr. Its postinst grants the monitor and the simulator the
# privileged ports, and the capture helper the capture right when the administrator agrees
# (templates, config): see debian/postinst.in.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
find_program(QVLINK_GZIP gzip REQUIRED)
set(_qvlink_man_pages)
set(QVLINK_PORT_GRANTS "")
foreach(program qvlink-monitor qvlink-sim qvlink-dump)
    if(NOT TARGET ${program})
        continue()
    endif()
    # Binding the bus port reveals nothing: the monitor alone gets it for every user.
    if(program STREQUAL qvlink-monitor)
        string(APPEND QVLINK_PORT_GRANTS "    grant cap_net_bind_service+ep "
               "${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\n")
    endif()

    # Manual pages carry the version and are compressed at build time, as Debian installs them.
    set(page ${_qvlink_packaging_out}/man/${program}.1)
    configure_file(${_qvlink_packaging_src}/man/${program}.1 ${page} @ONLY)
    add_custom_command(OUTPUT ${page}.gz
                       COMMAND ${QVLINK_GZIP} -9 -n -c ${page} > ${page}.gz
                       DEPENDS ${page}
                       COMMENT "Compressing the manual page of ${program}")
    list(APPEND _qvlink_man_pages ${page}.gz)
endforeach()
add_custom_target(qvlink_man_pages ALL DEPENDS ${_qvlink_man_pages})
install(FILES ${_qvlink_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(QVLINK_CAPTURE_HELPER ${CPACK_PACKAGING_INSTALL_PREFIX}/${QVLINK_HELPER_DIR}/qvlink-capture)
foreach(script postinst postrm)
    configure_file(${_qvlink_packaging_src}/debian/${script}.in
                   ${_qvlink_packaging_out}/debian/${script} @ONLY)
endforeach()
foreach(file config templates)
    configure_file(${_qvlink_packaging_src}/debian/${file} ${_qvlink_packaging_out}/debian/${file}
                   COPYONLY)
endforeach()

set(QVLINK_PACKAGE_MAINTAINER
    "qvlink-monitor maintainers <maintainers@users.noreply.c-seed-0db90a58.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvlink-monitor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QVLINK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor for the QV-LINK telemechanics field bus")
# Lines as they appear in `apt show`: under 80 columns, a blank line between paragraphs.
set(CPACK_PACKAGE_DESCRIPTION
"qvlink-monitor listens on UDP port 973 and shows, live, the devices of a
QV-LINK field bus with their sequence statistics, the bus-wide table of
500 TS and 500 TI points, and a decoded trace of every datagram with HTML
export. It sends a device the change-IP and firmware-update commands.

The package also holds qvlink-sim, which simulates a set of bus devices,
qvlink-dump, which prints, records and counts bus datagrams from a live
capture or a capture file, and a Lua dissector for Wireshark and tshark.

The monitor and the simulator are granted the privileged ports when the
package is installed. Live capture runs through a small helper, which the
installation can let the members of group qvlink run; everyone else
captures as root, and anyone can decode capture files.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the shared libraries (Qt 6, libpcap, the C++ runtime); what it cannot
# see is what the maintainer scripts run (setcap, addgroup, debconf) and faces with Cyrillic
# glyphs for the Arial and Tahoma the windows ask for.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libcap2-bin, adduser, debconf (>= 0.5) | debconf-2.0, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tshark | wireshark")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${_qvlink_packaging_out}/debian/config ${_qvlink_packaging_out}/debian/templates
    ${_qvlink_packaging_out}/debian/postinst ${_qvlink_packaging_out}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

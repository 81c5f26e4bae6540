# What `cmake --install` puts where, and the Debian package CPack builds from it
# (`cpack -G DEB` in a build tree configured with -DCMAKE_INSTALL_PREFIX=/usr).
include(GNUInstallDirs)

# The systemd units go beside the system's own; a relative folder is taken below the prefix.
set(TRAZPLOT_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Folder of the systemd service and timer, relative to the install prefix or absolute")
if(IS_ABSOLUTE "${TRAZPLOT_SYSTEMD_UNIT_DIR}")
    set(TRAZPLOT_SYSTEMD_UNIT_FULL_DIR "${TRAZPLOT_SYSTEMD_UNIT_DIR}")
else()
    set(TRAZPLOT_SYSTEMD_UNIT_FULL_DIR "${CMAKE_INSTALL_PREFIX}/${TRAZPLOT_SYSTEMD_UNIT_DIR}")
endif()
set(TRAZPLOT_MAINTAINER "trazplot developers <trazplot@example.org>" CACHE STRING
    "Maintainer of the Debian package and its changelog")
set(trazplot_docdir "${CMAKE_INSTALL_DATAROOTDIR}/doc/trazplot")

# The manual page names the installed folders; it is installed compressed, as man-db reads it.
configure_file(docs/trazplot.1.in trazplot.1 @ONLY)
configure_file(packaging/changelog.in changelog @ONLY)
# gzip -n leaves out the name and time stamp, so the same sources give the same package.
add_custom_command(OUTPUT trazplot.1.gz changelog.gz
    COMMAND sh -c "gzip -9 -n -c trazplot.1 > trazplot.1.gz"
    COMMAND sh -c "gzip -9 -n -c changelog > changelog.gz"
    DEPENDS ${PROJECT_BINARY_DIR}/trazplot.1 ${PROJECT_BINARY_DIR}/changelog
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    VERBATIM)
add_custom_target(trazplot_install_files ALL
    DEPENDS ${PROJECT_BINARY_DIR}/trazplot.1.gz ${PROJECT_BINARY_DIR}/changelog.gz)

install(TARGETS trazplot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/trazplot.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md docs/description.md docs/description.schema.json
    packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
    DESTINATION ${trazplot_docdir})
install(FILES docs/examples/event.ini docs/examples/drum.ini
    DESTINATION ${trazplot_docdir}/examples)
install(FILES docs/publish/drum.ini DESTINATION ${trazplot_docdir}/examples/publish)
# The service starts the installed program, so its path is filled in when installing: the
# prefix may be changed then (`cmake --install build --prefix /opt/trazplot`, or CPack's).
install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/docs/publish/trazplot-drum.service.in\"
        \"${PROJECT_BINARY_DIR}/units/trazplot-drum.service\" @ONLY)
")
install(FILES ${PROJECT_BINARY_DIR}/units/trazplot-drum.service docs/publish/trazplot-drum.timer
    DESTINATION ${TRAZPLOT_SYSTEMD_UNIT_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trazplot)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "trazplot developers")
set(CPACK_PACKAGE_CONTACT "${TRAZPLOT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "draws a seismic archive's waveforms into GIF images")
# The control file's description lines are kept under 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "trazplot asks a seismic acquisition system's catalogue (through ODBC) which\n"
    "stations to show, reads their samples from the segment files of the disk\n"
    "loop, filters and scales them, and draws one band per station with its phase\n"
    "picks, or one station as the rows of a drum recorder. It also exports the\n"
    "traces as CSS 3.0 and miniSEED, describes each image in JSON and builds a\n"
    "web page of the images.")
# The package's paths are the ones the service and the manual page were configured with.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
find_program(DPKG_PROGRAM dpkg)
if(DPKG_PROGRAM)
    execute_process(COMMAND ${DPKG_PROGRAM} --print-architecture
        OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the libraries the program links; a first run also needs the ODBC
# driver manager's configuration and a driver for the catalogue.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsqliteodbc")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "odbc-postgresql, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

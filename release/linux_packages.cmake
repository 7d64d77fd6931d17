# The Linux release, from the hardened native build (VORN_LINUX_RELEASE), each package carrying
# every native program with its manual page: vornsetup_<version>_amd64.deb, made by cpack, and
# vornsetup-<version>-linux-x86_64.tar.gz, one folder for any distribution, made here.
set(VORN_CONTACT "${VORN_VENDOR} <decoders@vorn.example>")
# What the programs need of the C library: the newest symbol version they use (the release's
# test holds them to it) and what ships it.
set(VORN_GLIBC_FLOOR "glibc 2.35 or later (Debian 12, Ubuntu 22.04 and distributions of their age)")

set(pages)
set(tarball_files)
foreach(program IN LISTS native_programs)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1)
  # Compressed as Debian's policy asks: most tightly, without a name or time in the header.
  add_custom_command(OUTPUT ${page}.gz COMMAND gzip -9nkf ${page} DEPENDS ${page} VERBATIM)
  list(APPEND pages ${page}.gz)
  list(APPEND tarball_files $<TARGET_FILE:${program}> ${page})
  install(TARGETS ${program} RUNTIME DESTINATION bin)
  install(FILES ${page}.gz DESTINATION share/man/man1)
endforeach()

# Debian's copyright file and the package's changelog, dated by the release.
set(doc ${CMAKE_CURRENT_BINARY_DIR}/doc)
configure_file(copyright.in ${doc}/copyright @ONLY)
configure_file(changelog.in ${doc}/changelog @ONLY)
add_custom_command(OUTPUT ${doc}/changelog.gz COMMAND gzip -9nkf ${doc}/changelog
                   DEPENDS ${doc}/changelog VERBATIM)
install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION share/doc/${PROJECT_NAME})
add_custom_target(vorn_linux_texts ALL DEPENDS ${pages} ${doc}/changelog.gz)

# The archive: the programs, their pages, README.
configure_file(README.linux.in ${CMAKE_CURRENT_BINARY_DIR}/linux/README @ONLY)
set(tarball ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-linux-x86_64.tar.gz)
add_custom_command(
  OUTPUT ${tarball}
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/pack_tarball.sh ${tarball} ${VORN_SOURCE_DATE_EPOCH}
          ${tarball_files} ${CMAKE_CURRENT_BINARY_DIR}/linux/README
  DEPENDS ${native_programs} ${tarball_files} ${CMAKE_CURRENT_BINARY_DIR}/linux/README
          ${CMAKE_CURRENT_SOURCE_DIR}/pack_tarball.sh
  COMMENT "Packing ${tarball}"
  VERBATIM)
add_custom_target(vorn_linux_tarball ALL DEPENDS ${tarball})

# The Debian package. cpack takes its times from SOURCE_DATE_EPOCH, owns everything by root and
# sorts the files; scripts/release gives it the umask that makes its own files' modes.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_VENDOR ${VORN_VENDOR})
set(CPACK_PACKAGE_CONTACT ${VORN_CONTACT})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The synopsis, then the description, whose lines cpack indents.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VORN video decoder setup for Windows drives mounted on Linux")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "vornsetup installs the VORN video decoders vornjixd.dll and vornjix2.dll
into a Windows that is not running: the drive of a Windows installation
mounted on Linux (a virtual machine's disk, a Windows partition, a
Windows 95, 98 or Me disk image), or an emulated machine folder. It copies
the decoders into that Windows' system directory and registers them where
that Windows reads them, in the registry hive or in system.ini.
vornremove takes them away again: the registration that still names them,
then the two files.")
set(directory_permissions OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                          WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${directory_permissions})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${directory_permissions})
include(CPack)

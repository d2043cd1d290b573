# Installing and packaging the driver like any other ODBC driver on Debian:
# both libraries in <libdir>/odbc, the README and an odbcinst.ini template in
# share/doc/qvmysql, and a DEB package (cpack -G DEB) that registers the
# driver with unixODBC.  scripts/install.sh does the same without a package.

# Drivers live in the multiarch ODBC directory (/usr/lib/x86_64-linux-gnu/odbc
# for prefix /usr).  GNUInstallDirs only picks the multiarch directory when
# the prefix is /usr at configure time, but `cmake --install --prefix` comes
# later, so on multiarch systems it is the default for every prefix.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CMAKE_INSTALL_LIBDIR)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH
      "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)
set(QV_ODBC_LIBDIR "${CMAKE_INSTALL_LIBDIR}/odbc")
set(QV_DOCDIR "${CMAKE_INSTALL_DATADIR}/doc/qvmysql")
set(QV_DRIVER_NAME "Quorvane MySQL ODBC Driver")

# Driver managers dlopen a driver by the path in odbcinst.ini, nobody links
# against it: the libraries keep their plain names (SONAME libqvmysql.so, no
# version symlinks).  They need nothing from the build tree at run time.
set(CMAKE_SKIP_INSTALL_RPATH ON)

install(TARGETS qvmysql LIBRARY DESTINATION ${QV_ODBC_LIBDIR}
  COMPONENT driver NAMELINK_SKIP)
if(TARGET qvmysqlS)
  install(TARGETS qvmysqlS LIBRARY DESTINATION ${QV_ODBC_LIBDIR}
    COMPONENT setup NAMELINK_SKIP)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${QV_DOCDIR} COMPONENT driver)

# The odbcinst.ini template names the installed libraries, so it is written
# at install time, when the prefix is known (`--prefix` or the package's).
# `odbcinst -i -d -f <docdir>/odbcinst.ini` registers the driver by hand.
set(QV_SETUP_LINE "")
if(TARGET qvmysqlS)
  set(QV_SETUP_LINE "Setup = @QV_ODBC_DIR@/libqvmysqlS.so")
endif()
install(CODE "
  set(QV_DRIVER_NAME [[${QV_DRIVER_NAME}]])
  set(QV_ODBC_DIR \"\${CMAKE_INSTALL_PREFIX}/${QV_ODBC_LIBDIR}\")
  if(IS_ABSOLUTE [[${QV_ODBC_LIBDIR}]])
    set(QV_ODBC_DIR [[${QV_ODBC_LIBDIR}]])
  endif()
  set(QV_DRIVER_PATH \"\${QV_ODBC_DIR}/libqvmysql.so\")
  string(CONFIGURE [[${QV_SETUP_LINE}]] QV_SETUP_LINE @ONLY)
  configure_file([[${CMAKE_SOURCE_DIR}/packaging/odbcinst.ini.in]]
    [[${CMAKE_BINARY_DIR}/packaging/odbcinst.ini]] @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${QV_DOCDIR}\" TYPE FILE
    FILES [[${CMAKE_BINARY_DIR}/packaging/odbcinst.ini]])
" COMPONENT driver)

# ---------------------------------------------------------------- DEB
#
# Two packages: qvmysql (the driver, registered by its postinst) and
# qvmysql-setup (the Qt 5 dialog), so the driver does not pull in Qt.  The
# driver's entry names the setup library either way and recommends it; when
# it is missing, prompting reports that it cannot be loaded.
set(CPACK_PACKAGE_NAME qvmysql)
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorvane qvmysql developers <qvmysql@quorvane.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Installs with DESTDIR, so the install-time template sees the real prefix
# (/usr) rather than the staging directory.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CPACK_PACKAGING_INSTALL_PREFIX})
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# Each package's description (below) starts with its own summary line.
set(CPACK_COMPONENTS_ALL driver)
if(TARGET qvmysqlS)
  list(APPEND CPACK_COMPONENTS_ALL setup)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
# Library dependencies (libodbcinst2, libssl3, zlib1g, libgssapi-krb5-2,
# Qt 5 for the setup package) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME qvmysql)
set(CPACK_DEBIAN_DRIVER_DESCRIPTION
"ODBC driver for MySQL-protocol servers
qvmysql, the ${QV_DRIVER_NAME}, is an ODBC 3.52 driver for MySQL,
MariaDB and MemSQL servers, loaded through the unixODBC driver manager.
It speaks the MySQL client/server protocol itself, with TLS, compression,
server-side prepared statements and Kerberos logon.")
# The driver manager (libodbc2) to load the driver; odbcinst for the
# maintainer scripts that register it.
set(CPACK_DEBIAN_DRIVER_PACKAGE_DEPENDS "libodbc2, odbcinst")
set(CPACK_DEBIAN_DRIVER_PACKAGE_SECTION database)

set(CPACK_DEBIAN_SETUP_PACKAGE_NAME qvmysql-setup)
set(CPACK_DEBIAN_SETUP_DESCRIPTION
"setup dialog for the qvmysql ODBC driver
The Qt 5 dialog that ODBC administrators open to edit qvmysql data
sources, and that the driver shows when a connection must prompt.")
set(CPACK_DEBIAN_SETUP_PACKAGE_DEPENDS "qvmysql (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_SETUP_PACKAGE_SECTION database)
if(TARGET qvmysqlS)
  set(CPACK_DEBIAN_DRIVER_PACKAGE_RECOMMENDS qvmysql-setup)
endif()

# Maintainer scripts: the registration functions and the template pasted in,
# for the package's own paths.
set(QV_DRIVER_PATH "${CPACK_PACKAGING_INSTALL_PREFIX}/${QV_ODBC_LIBDIR}/libqvmysql.so")
set(QV_ODBC_DIR "${CPACK_PACKAGING_INSTALL_PREFIX}/${QV_ODBC_LIBDIR}")
string(CONFIGURE "${QV_SETUP_LINE}" QV_SETUP_LINE @ONLY)
file(READ ${CMAKE_SOURCE_DIR}/packaging/odbcinst.ini.in QV_TEMPLATE)
string(CONFIGURE "${QV_TEMPLATE}" QV_TEMPLATE @ONLY)
string(STRIP "${QV_TEMPLATE}" QV_TEMPLATE)
file(READ ${CMAKE_SOURCE_DIR}/packaging/odbc_register.sh QV_REGISTER_FUNCTIONS)
foreach(script postinst prerm)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/${script}.in
    ${CMAKE_BINARY_DIR}/packaging/debian/${script} @ONLY)  # executable like the .in
endforeach()
set(CPACK_DEBIAN_DRIVER_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/packaging/debian/postinst
  ${CMAKE_BINARY_DIR}/packaging/debian/prerm)
set(CPACK_DEBIAN_DRIVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

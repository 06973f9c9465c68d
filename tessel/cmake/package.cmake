# Debian packages for the architecture being built (make package):
#   libtessel-dev  static libraries under the architecture's library
#                  directory, headers under include/tessel, the CMake package
#                  and the pkg-config file; Multi-Arch: same, so that the
#                  amd64 and armhf packages install side by side
#   tessel-tools   tessel-smbus (static); Multi-Arch: foreign
# Configure with -DCMAKE_INSTALL_PREFIX=/usr so that the library directory
# is the multiarch one.
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "arm")
  set(TESSEL_DEB_ARCH armhf)
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE TESSEL_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL dev tools)
set(CPACK_PACKAGE_NAME tessel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tessel developers <dev@tessel.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${TESSEL_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtessel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS tessel-tools)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "SMBus command transactions over Linux i2c-dev, with user-space PEC (development files)
 tessel runs SMBus-style commands (byte, word, block, process calls, send and
 receive byte) as one combined I2C_RDWR transfer on any adapter that can do
 plain I2C, and computes and checks the CRC-8 packet error code itself.
 This package holds the static libraries (the transfers, the support layer
 and the PMBus number formats), the headers (include/tessel), a CMake package
 (find_package(tessel): tessel::tessel, tessel::pmbus) and a pkg-config file.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tessel-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "SMBus transactions with user-space PEC from the shell
 tessel-smbus runs one SMBus transaction (read and write byte and word, block
 read and write, process call, block process call, send and receive byte)
 on an i2c-dev bus, optionally with the packet error code computed and
 checked in user space, and tells the outcomes apart by its exit status.")

# CPack writes no Multi-Arch field: add it to the packages it made.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/multiarch.cmake)
include(CPack)

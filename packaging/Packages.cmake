# The Debian packages: `cpack -G DEB` in the build folder makes one package
# per install component, with Depends computed from the binaries.

set(CPACK_PACKAGE_NAME monvia)
set(CPACK_PACKAGE_VENDOR "Monvia")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Monvia test tools developers <tools@monvia.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://monvia.org/test-tools")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop test tools for cash handling software")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Staged through DESTDIR with the real prefix, so that what is written at
# install time (the simulator's entry, the pkg-config file) names /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL testing velunttest dev)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Compute Depends from every component's binaries.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_TESTING_PACKAGE_NAME monvia-testing)
set(CPACK_DEBIAN_TESTING_PACKAGE_SECTION devel)
# The windows use Liberation faces (the panel's is metric-compatible with its design font).
set(CPACK_DEBIAN_TESTING_PACKAGE_RECOMMENDS fonts-liberation)
set(CPACK_COMPONENT_TESTING_DESCRIPTION
"test panel for cash device components, with a simulator
Testing is a desktop tool for people who test point-of-sale cash handling
software by hand: one window with a button per operation of a cash device
component (connect, charge, pay, change, cash box control, levels and
amounts), each outcome shown in a message box with every returned value and
the component's error code and text.
.
The package includes a simulated coin and note machine with fault injection,
registered as the default cash device component, so that Testing works with
no device attached; monvia-register, which registers a real component's
library for the user or for the whole system; and monvia-journal, which puts a
journal in front of the component, recording every call any program makes to
it, one line a call.")

set(CPACK_DEBIAN_VELUNTTEST_PACKAGE_NAME monvia-velunttest)
set(CPACK_DEBIAN_VELUNTTEST_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_VELUNTTEST_PACKAGE_RECOMMENDS fonts-liberation)
set(CPACK_COMPONENT_VELUNTTEST_DESCRIPTION
"test client for ticket services, with a simulator
VeluntTest is a desktop tool for people who test a ticket service by hand: it
sends one-line create and state requests over TCP, once or automatically once
a second, and shows each request and reply in a transcript.
.
The package includes monvia-ticket-service, a ticket service simulator on the
local machine whose misbehaviour (slow, split or missing replies, resets,
floods) can be switched on from the command line.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME monvia-component-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "monvia-testing")
set(CPACK_COMPONENT_DEV_DESCRIPTION
"kit for authors of cash device components
The headers of the CashDevice component contract and of the component
layer (class identifiers, status codes, layer strings, the entry points a
server library exports), the layer's string functions as a static library,
a pkg-config file and a CMake package (find_package(MonviaComponent)), and a
minimal example server. A library built with it is registered with
monvia-register and then used by Testing.")

include(CPack)

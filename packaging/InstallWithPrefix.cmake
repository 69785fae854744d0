# monvia_install_with_prefix(TEMPLATE <file.in> DESTINATION <dir> NAME <name> COMPONENT <component>)
#
# Installs a file that must name the install prefix, written at install time:
# `cmake --install --prefix <p>` may install elsewhere than the configured
# prefix, and only then is the prefix known. The template's @VAR@ references
# are filled in twice: configure-time variables now, and @MONVIA_PREFIX@ (the
# prefix the tree is installed to) at install time. DESTDIR is honoured, as
# package builds stage through it.
function(monvia_install_with_prefix)
  cmake_parse_arguments(ARG "" "TEMPLATE;DESTINATION;NAME;COMPONENT" "" ${ARGN})
  get_filename_component(stem ${ARG_TEMPLATE} NAME)
  set(MONVIA_PREFIX "@MONVIA_PREFIX@")  # kept for the install-time pass
  set(staged ${CMAKE_CURRENT_BINARY_DIR}/prefixed/${stem})
  configure_file(${ARG_TEMPLATE} ${staged}.configured @ONLY)
  # Generator expressions (a target's file name) are resolved per build configuration.
  file(GENERATE OUTPUT ${staged}.$<CONFIG> INPUT ${staged}.configured)
  install(CODE "
    set(MONVIA_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ARG_DESTINATION}/${ARG_NAME}\")
    message(STATUS \"Installing: \${target}\")
    configure_file(\"${staged}.\${CMAKE_INSTALL_CONFIG_NAME}\" \"\${target}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${target}\")
  " COMPONENT ${ARG_COMPONENT})
endfunction()

# What `cmake --install` puts under the prefix:
#
#   bin/rawbench -> ../libexec/rawbench/Rawbench   the program, found by its link
#   bin/RawbenchSetup                              the installer, which carries its files
#   libexec/rawbench/{Rawbench, ui.btb, guide/}    the program beside its packed script
#   share/applications/rawbench.desktop            the menu entry, pointing at the prefix
#   share/icons/hicolor/<n>x<n>/apps/rawbench.png  the icon, 16 to 256 pixels
#   share/mime/packages/rawbench.xml               the type of the raw files
#   share/man/man1/rawbench.1                      the manual page
#
# Before anything is copied every destination is checked, so that a prefix that
# cannot be written ends the install with a clear error and nothing half done.
# Files of other programs are never touched; a menu entry or type file of ours
# that another program put there is kept and reported.
include(GNUInstallDirs)

set(RB_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/rawbench)
set(RB_INSTALL_DIRS
  ${CMAKE_INSTALL_BINDIR}
  ${RB_INSTALL_PROGRAM_DIR}
  ${CMAKE_INSTALL_DATADIR}/applications
  ${CMAKE_INSTALL_DATADIR}/icons/hicolor
  ${CMAKE_INSTALL_DATADIR}/mime/packages
  ${CMAKE_INSTALL_MANDIR}/man1)

# First of all install rules, before any folder adds its own.
install(CODE "set(RB_INSTALL_DIRS \"${RB_INSTALL_DIRS}\")
include(\"${CMAKE_SOURCE_DIR}/cmake/InstallSteps.cmake\")
rb_install_check_destinations()")

function(rb_install_rules)
  if(NOT TARGET Rawbench)
    return()
  endif()
  install(TARGETS Rawbench RUNTIME DESTINATION ${RB_INSTALL_PROGRAM_DIR})
  install(FILES ${RB_APP_BUNDLE} DESTINATION ${RB_INSTALL_PROGRAM_DIR})
  if(EXISTS ${CMAKE_SOURCE_DIR}/app/guide)
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/app/guide/ DESTINATION ${RB_INSTALL_PROGRAM_DIR}/guide)
  endif()
  if(DEFINED RB_SETUP_EXECUTABLE)
    install(PROGRAMS ${RB_SETUP_EXECUTABLE} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  install(DIRECTORY ${RB_ICON_THEME_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${CMAKE_SOURCE_DIR}/app/desktop/rawbench.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(CODE "set(RB_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
set(RB_INSTALL_PROGRAM_DIR \"${RB_INSTALL_PROGRAM_DIR}\")
set(RB_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
set(RB_DESKTOP_SOURCE \"${CMAKE_SOURCE_DIR}/app/desktop\")
include(\"${CMAKE_SOURCE_DIR}/cmake/InstallSteps.cmake\")
rb_install_finish()")
endfunction()
# After every folder has made its targets.
cmake_language(DEFER CALL rb_install_rules)

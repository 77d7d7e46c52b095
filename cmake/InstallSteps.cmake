# The steps of `cmake --install` that plain install() rules cannot take; run from
# the install script, where CMAKE_INSTALL_PREFIX is the prefix chosen at install
# time and DESTDIR, when set, stands in front of it.

function(rb_install_absolute relative out)
  if(IS_ABSOLUTE "${relative}")
    set(${out} "${relative}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${relative}" PARENT_SCOPE)
  endif()
endfunction()

# Says why on one unwrapped line, then ends the install.
function(rb_install_refuse)
  string(JOIN "" why ${ARGV})
  message(NOTICE "Rawbench cannot be installed: ${why} Nothing was installed.")
  message(FATAL_ERROR "Rawbench was not installed.")
endfunction()

# Every destination, or the nearest folder above it that exists, must be a folder
# that can be written; and the prefix must be one a menu entry can name.
function(rb_install_check_destinations)
  if(CMAKE_INSTALL_PREFIX MATCHES "[\n\r\t]")
    rb_install_refuse("a menu entry cannot name the prefix \"${CMAKE_INSTALL_PREFIX}\": it holds a line break or a tab.")
  endif()
  foreach(dir IN LISTS RB_INSTALL_DIRS)
    rb_install_absolute("${dir}" absolute)
    set(probe "$ENV{DESTDIR}${absolute}")
    while(NOT EXISTS "${probe}" AND NOT IS_SYMLINK "${probe}")
      get_filename_component(parent "${probe}" DIRECTORY)
      if(parent STREQUAL probe)
        break()
      endif()
      set(probe "${parent}")
    endwhile()
    if(NOT IS_DIRECTORY "${probe}")
      rb_install_refuse("\"${probe}\" is in the way of the folder \"$ENV{DESTDIR}${absolute}\" and is not a folder.")
    endif()
    execute_process(COMMAND test -w "${probe}" RESULT_VARIABLE denied)
    if(denied)
      rb_install_refuse("the folder \"${probe}\" cannot be written (needed for \"$ENV{DESTDIR}${absolute}\"). "
                        "Choose another prefix (cmake --install <build> --prefix <folder>) or install as a "
                        "user who may write there.")
    endif()
  endforeach()
endfunction()

# A path as one argument of a menu entry's Exec key: quoted, with the characters
# that quoting reserves escaped, then the entry's own escape of backslashes, and
# "%" doubled so that it is no field code.
function(rb_desktop_exec_argument path out)
  string(REPLACE "\\" "\\\\" quoted "${path}")
  string(REPLACE "\"" "\\\"" quoted "${quoted}")
  string(REPLACE "`" "\\`" quoted "${quoted}")
  string(REPLACE "$" "\\$" quoted "${quoted}")
  string(REPLACE "\\" "\\\\" quoted "${quoted}")
  string(REPLACE "%" "%%" quoted "${quoted}")
  set(${out} "\"${quoted}\"" PARENT_SCOPE)
endfunction()

# A file of ours that another program already put there under the same name is
# kept; ours is not written then. `mark` is a text only our file holds.
function(rb_install_own_file path content mark installed)
  set(${installed} FALSE PARENT_SCOPE)
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    file(READ "${path}" existing LIMIT 65536)
    string(FIND "${existing}" "${mark}" at)
    if(at EQUAL -1)
      message(NOTICE "Kept: \"${path}\" belongs to another program; Rawbench's was not written.")
      return()
    endif()
  endif()
  message(STATUS "Installing: ${path}")
  get_filename_component(folder "${path}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  file(WRITE "${path}.rawbench-new" "${content}")
  file(CHMOD "${path}.rawbench-new" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(RENAME "${path}.rawbench-new" "${path}")
  set(${installed} TRUE PARENT_SCOPE)
endfunction()

function(rb_install_finish)
  set(root "$ENV{DESTDIR}")
  set(manifest ${CMAKE_INSTALL_MANIFEST_FILES})
  rb_install_absolute("${RB_INSTALL_BINDIR}" bindir)
  rb_install_absolute("${RB_INSTALL_PROGRAM_DIR}" programdir)
  rb_install_absolute("${RB_INSTALL_DATADIR}" datadir)
  set(program "${programdir}/Rawbench")

  # The command's name: a link to the program, which finds its script beside itself.
  set(link "${root}${bindir}/rawbench")
  file(RELATIVE_PATH target "${bindir}" "${program}")
  if((EXISTS "${link}" OR IS_SYMLINK "${link}") AND NOT IS_SYMLINK "${link}")
    message(NOTICE "Kept: \"${link}\" belongs to another program; start Rawbench as \"${program}\".")
  else()
    message(STATUS "Installing: ${link} -> ${target}")
    file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
    list(APPEND manifest "${bindir}/rawbench")
  endif()

  # The menu entry names the program itself, so it works whatever PATH holds. A "%"
  # in its path is written "%%", which some launchers do not undo before they look
  # for the program: then a shell, which every launcher finds, starts it.
  rb_desktop_exec_argument("${program}" RB_DESKTOP_EXEC)
  string(FIND "${program}" "%" percent)
  if(NOT percent EQUAL -1)
    rb_desktop_exec_argument("exec \"$0\" \"$@\"" script)
    set(RB_DESKTOP_EXEC "/bin/sh -c ${script} ${RB_DESKTOP_EXEC}")
  endif()
  string(REPLACE "\\" "\\\\" RB_DESKTOP_TRYEXEC "${program}")
  file(READ "${RB_DESKTOP_SOURCE}/rawbench.desktop.in" template)
  string(CONFIGURE "${template}" entry @ONLY)
  set(desktop "${root}${datadir}/applications/rawbench.desktop")
  rb_install_own_file("${desktop}" "${entry}" "X-Rawbench-Entry=true" written)
  if(written)
    list(APPEND manifest "${datadir}/applications/rawbench.desktop")
  endif()

  file(READ "${RB_DESKTOP_SOURCE}/rawbench-mime.xml" types)
  set(mime "${root}${datadir}/mime/packages/rawbench.xml")
  rb_install_own_file("${mime}" "${types}" "type=\"image/x-rawbench-raw\"" written)
  if(written)
    list(APPEND manifest "${datadir}/mime/packages/rawbench.xml")
  endif()

  # The desktop's caches, when installing for real; packagers' tools (DESTDIR) do
  # this on the target system.
  if(root STREQUAL "")
    find_program(RB_UPDATE_MIME update-mime-database)
    if(RB_UPDATE_MIME)
      execute_process(COMMAND "${RB_UPDATE_MIME}" "${datadir}/mime" RESULT_VARIABLE failed)
      if(failed)
        message(WARNING "update-mime-database failed for \"${datadir}/mime\": raw files may not be recognised yet.")
      endif()
    endif()
    find_program(RB_UPDATE_DESKTOP update-desktop-database)
    if(RB_UPDATE_DESKTOP)
      execute_process(COMMAND "${RB_UPDATE_DESKTOP}" -q "${datadir}/applications")
    endif()
    find_program(RB_UPDATE_ICONS gtk-update-icon-cache)
    if(RB_UPDATE_ICONS AND EXISTS "${datadir}/icons/hicolor/index.theme")
      execute_process(COMMAND "${RB_UPDATE_ICONS}" -q -t -f "${datadir}/icons/hicolor")
    endif()
  endif()
  set(CMAKE_INSTALL_MANIFEST_FILES ${manifest} PARENT_SCOPE)
endfunction()

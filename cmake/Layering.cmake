# The libraries stand in floors, bottom first: a library may depend only on libraries
# of lower floors, so no circle and no upward arrow can creep in. Libraries of the
# tests and benchmarks stand above every floor and may not depend on each other in a
# circle. Each entry is one floor; libraries sharing a floor are separated by spaces.
set(RB_FLOORS
  "rb_strings"
  "rb_base"
  "rb_threading"
  "rb_foundation"
  "rb_storage"
  "rb_xml rb_adjustments"
  "rb_pixelproc rb_displayblit"
  "rb_fileio"
  "rb_imageproc"
  "rb_uiframework_os"
  "rb_uiframework"
  "rb_uiwidgets rb_camera rb_autolaunch rb_dirchooser"
  "rb_browser"
  "rb_windows rb_installer"
)

function(rb_is_fixture_library name out)
  if(name MATCHES "^rb_(support|bench)_")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# rb_check_layering(<floors-list-var> <libraries>...)
# The dependencies of library L are read from the variable RB_DEPS_<L>. Every fault
# found is reported; any fault ends configuration with FATAL_ERROR.
function(rb_check_layering floors_var)
  set(libraries ${ARGN})
  set(faults "")
  set(index 0)
  foreach(floor IN LISTS ${floors_var})
    separate_arguments(members UNIX_COMMAND "${floor}")
    foreach(m IN LISTS members)
      set(floor_of_${m} ${index})
    endforeach()
    math(EXPR index "${index} + 1")
  endforeach()
  set(fixture_floor ${index})

  set(fixtures "")
  foreach(lib IN LISTS libraries)
    rb_is_fixture_library(${lib} is_fixture)
    if(is_fixture)
      set(floor_of_${lib} ${fixture_floor})
      list(APPEND fixtures ${lib})
    elseif(NOT DEFINED floor_of_${lib})
      list(APPEND faults "${lib} stands on no floor: place it in RB_FLOORS (cmake/Layering.cmake)")
    endif()
  endforeach()

  foreach(lib IN LISTS libraries)
    if(NOT DEFINED floor_of_${lib})
      continue()
    endif()
    foreach(dep IN LISTS RB_DEPS_${lib})
      if(NOT DEFINED floor_of_${dep})
        continue() # outside libraries and unplaced ones (reported above)
      endif()
      if(floor_of_${lib} EQUAL fixture_floor AND floor_of_${dep} EQUAL fixture_floor)
        continue() # circles among fixtures are looked for below
      endif()
      if(NOT floor_of_${dep} LESS floor_of_${lib})
        list(APPEND faults "${lib} depends on ${dep}, which does not stand below it")
      endif()
    endforeach()
  endforeach()

  # Peel off fixtures whose fixture dependencies are all peeled; what stays is a circle.
  set(left ${fixtures})
  while(left)
    set(peeled "")
    foreach(lib IN LISTS left)
      set(ready TRUE)
      foreach(dep IN LISTS RB_DEPS_${lib})
        if(dep IN_LIST left)
          set(ready FALSE)
        endif()
      endforeach()
      if(ready)
        list(APPEND peeled ${lib})
      endif()
    endforeach()
    if(NOT peeled)
      list(JOIN left ", " names)
      list(APPEND faults "a circle of dependencies among ${names}")
      break()
    endif()
    list(REMOVE_ITEM left ${peeled})
  endwhile()

  if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "Library layering broken:\n  ${text}")
  endif()
endfunction()

# Checks every library that rb_library made in this build.
function(rb_check_build_layering)
  get_property(libraries GLOBAL PROPERTY RB_LIBRARIES)
  foreach(lib IN LISTS libraries)
    get_property(deps GLOBAL PROPERTY RB_LIBRARY_DEPS_${lib})
    set(RB_DEPS_${lib} ${deps})
  endforeach()
  rb_check_layering(RB_FLOORS ${libraries})
endfunction()

# The program's layers, each a library of its own:
#   framework  <-  net_vpn, settings  <-  ui  <-  app
# A layer sees the headers of the layers it builds on and its own, and no
# others: its include root holds links to just those folders, so an include
# that climbs a layer (framework including "ui/...") does not compile.

# add_layer(NAME SOURCES file... USES layer... LIBRARIES lib...)
function(add_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;USES;LIBRARIES" ${ARGN})
  set(root "${CMAKE_BINARY_DIR}/layers/${name}")
  file(MAKE_DIRECTORY "${root}")
  foreach(layer IN LISTS ARG_USES ITEMS ${name})
    if(NOT EXISTS "${root}/${layer}")
      file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${layer}" "${root}/${layer}" SYMBOLIC)
    endif()
  endforeach()
  add_library(tarnwick_${name} STATIC ${ARG_SOURCES})
  target_include_directories(tarnwick_${name} PRIVATE "${root}")
  list(TRANSFORM ARG_USES PREPEND tarnwick_ OUTPUT_VARIABLE below)
  target_link_libraries(tarnwick_${name} PUBLIC tarnwick_flags ${below} ${ARG_LIBRARIES})
  # Stack canaries in everything the program is made of (the program sets
  # their guard itself: app/StackGuard.cpp). Small code, in sections the
  # linker can leave out: a tray program gains nothing from -O3's size. A
  # debug build keeps its -O0, so a debugger follows the source.
  target_compile_options(tarnwick_${name} PRIVATE
    -fstack-protector-strong $<$<NOT:$<CONFIG:Debug>>:-Os> -ffunction-sections -fdata-sections)
endfunction()

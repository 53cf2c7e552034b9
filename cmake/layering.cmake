# Include roots that enforce the direction of dependencies between the folders of src/.
#
# No target sees src/ as a whole. Each library exposes only the headers (or whole folders) it offers,
# through a folder of its own under build/include/<target>/ that holds links to them under their usual
# names ("dsp/biquad.h", "core/parameters.h"). A target sees its own exposed headers and those of
# the libraries it links, and nothing else, so an include against the directions fails to compile.
# tests/layering plants such includes and checks that they are refused.

# lumisere_expose(TARGET PATH...): PATH is a header or a folder, relative to src/.
function(lumisere_expose target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  foreach(path ${ARGN})
    if(NOT EXISTS ${LUMISERE_SRC}/${path})
      message(FATAL_ERROR "lumisere_expose(${target}): no ${path} in src/")
    endif()
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${LUMISERE_SRC}/${path} ${root}/${path} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

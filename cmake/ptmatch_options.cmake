# Compiler settings shared by every target of the project.

add_library(ptmatch_warnings INTERFACE)
target_compile_options(ptmatch_warnings INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang,AppleClang>:-Wall -Wextra -Wpedantic>)

if(PTMATCH_SANITIZE AND PTMATCH_TSAN)
  message(FATAL_ERROR "PTMATCH_SANITIZE and PTMATCH_TSAN exclude each other: configure two builds")
endif()
if(PTMATCH_TSAN)
  # Races are reported as errors, so that a racy run fails instead of printing and carrying on.
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(PTMATCH_SANITIZE)
  # Halt on the first finding so that CI fails instead of printing and carrying on.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# Adds the sources of one subsystem folder to the library. Every .cc file in the folder belongs to it,
# so adding a file needs no edit here.
function(ptmatch_add_sources folder)
  file(GLOB _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cc")
  target_sources(ptmatch PRIVATE ${_sources})
endfunction()

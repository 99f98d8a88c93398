# Warning set for the project's own targets. Third-party headers (Qt, GoogleTest) come in as
# system includes through their imported targets, so their warnings do not count.
function(zarvos_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(ZARVOS_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# zarvos_add_subdirs(<dir>...): adds each listed folder that holds a CMakeLists.txt, in the given
# order (dependencies first), so folders can appear as the build plan fills them.
macro(zarvos_add_subdirs)
  foreach(_dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/CMakeLists.txt)
      add_subdirectory(${_dir})
    endif()
  endforeach()
endmacro()

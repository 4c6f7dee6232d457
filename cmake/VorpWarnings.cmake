# The warnings of every target Vorp builds, through one interface target:
# -Wall -Wextra always, and -Werror where VORP_WERROR is on (the dev preset).
option(VORP_WERROR "Treat compiler warnings as errors" OFF)
add_library(vorp_warnings INTERFACE)
target_compile_options(vorp_warnings INTERFACE -Wall -Wextra $<$<BOOL:${VORP_WERROR}>:-Werror>)

# Links vorp_warnings privately into every compiled target defined in `dir`
# and the folders below it.
function(vorp_link_warnings dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      target_link_libraries(${target} PRIVATE vorp_warnings)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    vorp_link_warnings(${subdir})
  endforeach()
endfunction()

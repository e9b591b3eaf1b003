# Compiler settings every target of the project takes through `tamrik_settings`.
add_library(tamrik_settings INTERFACE)
target_compile_options(tamrik_settings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Wnull-dereference -Wimplicit-fallthrough
  # Options structs are filled with designated initializers that name only
  # what differs from the defaults.
  -Wno-missing-field-initializers)
if(TAMRIK_WERROR)
  target_compile_options(tamrik_settings INTERFACE -Werror)
endif()
# Once GCC 12 inlines libstdc++'s string concatenation, std::optional and
# nlohmann's accessors, it reports overlapping copies, uninitialised values
# and null dereferences that no input can reach: off in optimised builds
# only, where they are never right (the debug builds keep all three).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13 AND
   CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$")
  target_compile_options(tamrik_settings INTERFACE -Wno-restrict -Wno-null-dereference -Wno-maybe-uninitialized)
endif()
# A unity build compiles several source files as one; GCC then takes each
# file's own types in anonymous namespaces for a header's and warns about
# them. Builds file by file still check this.
# A whole target's unity file spends a tenth of GCC's time collecting
# garbage at the default thresholds; with 1 GB before the first collection
# it rarely collects at all.
if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(tamrik_settings INTERFACE -Wno-subobject-linkage
    --param=ggc-min-expand=100 --param=ggc-min-heapsize=1048576)
endif()
# The two runtimes each own the process's memory map; they cannot be mixed.
if(TAMRIK_SANITIZE AND TAMRIK_TSAN)
  message(FATAL_ERROR "TAMRIK_SANITIZE and TAMRIK_TSAN cannot be combined; configure a separate build for each")
endif()
if(TAMRIK_SANITIZE)
  target_compile_options(tamrik_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(tamrik_settings INTERFACE -fsanitize=address,undefined)
endif()
if(TAMRIK_TSAN)
  target_compile_options(tamrik_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(tamrik_settings INTERFACE -fsanitize=thread)
endif()

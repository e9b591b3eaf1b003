# The fuzzing build: every target instrumented for libFuzzer's coverage and
# for ASan+UBSan. Shared libraries (synccore, attest) take the sanitizer
# runtime as a shared library too, so they link with no undefined symbols;
# the executables find it through their run path.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "TAMRIK_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
endif()

execute_process(
  COMMAND ${CMAKE_CXX_COMPILER} --print-file-name=libclang_rt.asan-x86_64.so
  OUTPUT_VARIABLE tamrik_asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(tamrik_sanitizer_dir "${tamrik_asan_runtime}" DIRECTORY)
# libFuzzer's main(), linked by hand: -fsanitize=fuzzer would put libstdc++
# ahead of the shared sanitizer runtime, which must load first.
set(TAMRIK_LIBFUZZER "${tamrik_sanitizer_dir}/libclang_rt.fuzzer-x86_64.a")

# A finding's stack needs files and lines, not variables: line tables
# alone build a tenth faster than full debug information.
target_compile_options(tamrik_settings INTERFACE
  -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
  -gline-tables-only)
target_link_options(tamrik_settings INTERFACE
  -fsanitize=address,undefined -shared-libsan "LINKER:-rpath,${tamrik_sanitizer_dir}")

# Start-up cost of the hook entries. git runs `tamrik sync --record-commit`
# after every commit and agent harnesses run `tamrik attest add --from-hook`
# after every tool call, so what the dynamic loader does before main() is
# paid thousands of times a day (bench/bench_hook_start.cpp and
# bench/bench_record_commit.cpp measure it).
include_guard(GLOBAL)

# Link options for tamrik's shared libraries and its executable:
# - a call between two functions of one library binds inside it when it is
#   linked (-Bsymbolic-functions), so the loader resolves far fewer symbols;
# - a library nothing refers to is not loaded (--as-needed);
# - symbols bind when first called (-z lazy), not all before main();
# - a library exports only the names its callers use, listed in its own
#   exports.map; the templates of other libraries instantiated inside it
#   (std, nlohmann, toml) and its own helpers stay private.
function(tamrik_link_for_fast_start_up target)
  target_link_options(${target} PRIVATE -Wl,-O1 -Wl,--as-needed -Wl,-z,lazy)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    get_target_property(sources ${target} SOURCE_DIR)
    set(exports ${sources}/exports.map)
    target_link_options(${target} PRIVATE -Wl,-Bsymbolic-functions -Wl,--version-script=${exports})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports})
  endif()
endfunction()

# libcrypto serves SHA-256 alone. The shared one costs each start a
# megabyte-sized library and some 20,000 relocations, so the library that
# hashes takes the few objects it needs from the static archive, keeps their
# symbols private (they must not stand in for the shared libcrypto that the
# HTTP transport loads), and the shared one drops out (--as-needed).
function(tamrik_link_static_crypto target)
  find_library(TAMRIK_STATIC_CRYPTO NAMES libcrypto.a REQUIRED)
  target_link_libraries(${target} PRIVATE ${TAMRIK_STATIC_CRYPTO})
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,libcrypto.a)
endfunction()

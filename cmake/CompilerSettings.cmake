# Warnings and sanitizers for every target of the project (not for imported ones).
add_compile_options(-Wall -Wextra -Wpedantic)
# Which mutex guards what (server/common/thread_annotations.h) is checked where clang builds:
#   CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DVELLUMORA_WERROR=ON
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-Wthread-safety)
endif()
if(VELLUMORA_WERROR)
  add_compile_options(-Werror)
endif()

if(VELLUMORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VELLUMORA_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "VELLUMORA_FUZZ needs clang (CXX=clang++)")
endif()
if(VELLUMORA_FUZZ)
  # The libraries under test need coverage instrumentation too, not only the fuzzer's own file.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# mold (or lld) links the many test executables several times faster than GNU ld.
option(VELLUMORA_FAST_LINKER "Link with mold, or lld, when one is installed" ON)
if(VELLUMORA_FAST_LINKER)
  foreach(linker mold lld)
    find_program(VELLUMORA_LD_${linker} ld.${linker})
    if(VELLUMORA_LD_${linker})
      add_link_options(-fuse-ld=${linker})
      break()
    endif()
  endforeach()
endif()

# Warnings and sanitizers for every target of the project (not for imported ones).
add_compile_options(-Wall -Wextra -Wpedantic)
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

# One place for warning flags and sanitizer builds of every target.
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
if(QV_WERROR)
  add_compile_options(-Werror)
endif()
add_compile_definitions(_GNU_SOURCE)

if(QV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QV_FUZZ needs clang")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Shared libraries must resolve every symbol at link time, except in the
# clang sanitizer builds, whose runtime only the programs carry.
if(QV_FUZZ OR (QV_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang"))
  set(QV_LINK_NO_UNDEFINED "")
else()
  set(QV_LINK_NO_UNDEFINED "-Wl,-z,defs")
endif()

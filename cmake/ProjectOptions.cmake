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

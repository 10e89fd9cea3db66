if(SUITE_SANITIZE)
  set(_suite_san_flags -fsanitize=address,undefined -fno-omit-frame-pointer
                       -fno-sanitize-recover=undefined)
  add_compile_options(${_suite_san_flags})
  add_link_options(${_suite_san_flags})
endif()

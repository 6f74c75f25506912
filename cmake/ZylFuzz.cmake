# ZYL_FUZZ: every target is instrumented for libFuzzer's coverage and built with ASan and
# UBSan, which stop at the first error; the fuzz targets link libFuzzer's driver.
if(ZYL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZYL_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  if(ZYL_SANITIZE)
    message(FATAL_ERROR "ZYL_FUZZ brings its own sanitizers; leave ZYL_SANITIZE off")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  # The customary switch for limits that suit fuzzing (smaller expression budgets).
  add_compile_definitions(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
  add_link_options(-fsanitize=address,undefined)
endif()

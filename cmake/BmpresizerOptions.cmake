# Settings shared by the project's own targets, as interface libraries to
# link: bmpresizer_options (language level, warnings, sanitizers) and
# bmpresizer_no_exceptions; bmpresizer_hide_symbols(TARGET...) sets the
# properties of code that ends up inside the library.

add_library(bmpresizer_options INTERFACE)
target_compile_features(bmpresizer_options INTERFACE cxx_std_17 c_std_99)
target_compile_options(bmpresizer_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wcast-align
  -Wformat=2 -Wundef
  $<$<BOOL:${BMPRESIZER_WERROR}>:-Werror>)
if(BMPRESIZER_SANITIZE)
  target_compile_options(bmpresizer_options INTERFACE
    -fsanitize=${BMPRESIZER_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(bmpresizer_options INTERFACE -fsanitize=${BMPRESIZER_SANITIZE})
  if(BMPRESIZER_SANITIZE MATCHES "undefined")
    # The library's classes carry no run-time type information, which the
    # check of dynamic types in the tool and the tests would need.
    target_compile_options(bmpresizer_options INTERFACE -fno-sanitize=vptr)
  endif()
endif()
if(BMPRESIZER_BUILD_FUZZERS)
  # Coverage feedback for the fuzzer from every target, the core above all.
  target_compile_options(bmpresizer_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Code that runs inside a host's call: no exceptions to leak across the C
# boundary and no run-time type information to pay for.
add_library(bmpresizer_no_exceptions INTERFACE)
target_compile_options(bmpresizer_no_exceptions INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)

# Code that goes into the library: hidden unless exported by name, and
# position-independent, as a shared library needs.
function(bmpresizer_hide_symbols)
  set_target_properties(${ARGN} PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
endfunction()

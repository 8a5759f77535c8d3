# Compiler settings shared by every target of the project.

add_library(bmpresizer_options INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(bmpresizer_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wcast-align
    -Wformat=2 -Wundef
    $<$<BOOL:${BMPRESIZER_WERROR}>:-Werror>)
  if(BMPRESIZER_SANITIZE)
    target_compile_options(bmpresizer_options INTERFACE
      -fsanitize=${BMPRESIZER_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(bmpresizer_options INTERFACE -fsanitize=${BMPRESIZER_SANITIZE})
  endif()
  if(BMPRESIZER_BUILD_FUZZERS)
    # Coverage feedback for the fuzzer from every target, the core above all.
    target_compile_options(bmpresizer_options INTERFACE -fsanitize=fuzzer-no-link)
  endif()
endif()

# Code that runs inside a host's call: no exceptions to leak across the C
# boundary and no run-time type information to pay for.
add_library(bmpresizer_no_exceptions INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(bmpresizer_no_exceptions INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
endif()

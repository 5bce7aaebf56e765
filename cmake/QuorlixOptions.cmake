# Compiler flags shared by every target of the project.
add_library(quorlix_options INTERFACE)

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(quorlix_options INTERFACE -Wall -Wextra -Wshadow)
  if(QUORLIX_WERROR)
    target_compile_options(quorlix_options INTERFACE -Werror)
  endif()
endif()

# AddressSanitizer and UndefinedBehaviorSanitizer, stopping at the first report;
# the sanitizer build and the fuzz build both use them.
set(QUORLIX_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if(QUORLIX_SANITIZE OR QUORLIX_BUILD_FUZZERS)
  add_compile_options(${QUORLIX_SANITIZER_FLAGS})
  add_link_options(${QUORLIX_SANITIZER_FLAGS})
endif()
if(QUORLIX_BUILD_FUZZERS)
  # Coverage for libFuzzer everywhere; the fuzz targets themselves add its main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

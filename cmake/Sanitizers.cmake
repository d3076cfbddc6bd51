# ONDREL_SANITIZE=address builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# ONDREL_SANITIZE=thread with ThreadSanitizer. The two cannot share one build.
set(ONDREL_SANITIZE "" CACHE STRING "Sanitizer build: empty, address or thread")
if(ONDREL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ONDREL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ONDREL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ONDREL_SANITIZE must be empty, address or thread")
endif()

# Every program and test program compiles this in: under ThreadSanitizer it names the
# libraries whose internal races the sanitizer cannot judge (elsewhere it is empty).
set(ONDREL_TSAN_SUPPRESSIONS ${CMAKE_SOURCE_DIR}/cmake/TsanSuppressions.cpp)

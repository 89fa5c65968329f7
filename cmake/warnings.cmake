# Warnings for our own targets only; third-party headers come in as system headers.
function(rzt2_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wimplicit-fallthrough -Werror=return-type)
  # GCC 12 reports writes and reads out of bounds, overlapping copies and
  # null dereferences inside libstdc++'s vector insert and resize at -O2
  # (known false positives, GCC bugs 105329, 106199, 107852).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE
      -Wno-stringop-overflow -Wno-stringop-overread -Wno-array-bounds -Wno-restrict)
  endif()
endfunction()

# The browser's build (emcmake cmake), included in place of the native
# codec search: the codec libraries scripts/build-web built into
# RZT2_WEB_DEPS, under the target names the core links, and the compile
# options every C++ file of the build takes.
set(RZT2_WEB_DEPS "" CACHE PATH "include/ and lib/ of the codecs built for the browser")
if(NOT EXISTS "${RZT2_WEB_DEPS}/lib/libpng16.a")
  message(FATAL_ERROR "RZT2_WEB_DEPS does not hold the codecs: run scripts/build-web")
endif()

function(rzt2_web_codec target)
  add_library(${target} INTERFACE IMPORTED)
  list(TRANSFORM ARGN PREPEND "${RZT2_WEB_DEPS}/lib/lib")
  list(TRANSFORM ARGN APPEND ".a")
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${RZT2_WEB_DEPS}/include"
                                             INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()
rzt2_web_codec(ZLIB::ZLIB z)
rzt2_web_codec(PkgConfig::LIBDEFLATE deflate)
rzt2_web_codec(PNG::PNG png16 z)
rzt2_web_codec(JPEG::JPEG jpeg)
rzt2_web_codec(GIF::GIF gif)
rzt2_web_codec(TIFF::TIFF tiff jpeg deflate z)
rzt2_web_codec(PkgConfig::WEBP webpdemux webpdecoder)
rzt2_web_codec(PkgConfig::OPENJPEG openjp2)
rzt2_web_codec(PkgConfig::IMAGEQUANT imagequant)
set_property(TARGET PkgConfig::OPENJPEG APPEND PROPERTY INTERFACE_INCLUDE_DIRECTORIES
                                                        "${RZT2_WEB_DEPS}/include/openjpeg-2.5")
# libimagequant is built without OpenMP; the core's one call to it has a
# stand-in (web/compat/include/omp.h). Threads are chosen when linking.
add_library(OpenMP::OpenMP_CXX INTERFACE IMPORTED)
add_library(Threads::Threads INTERFACE IMPORTED)

# Two modules, each from its own build tree: with WebAssembly threads (for
# pages that are cross-origin isolated) and without. The core is compiled
# for each: its thread_local storage needs the threads' runtime when it is
# compiled for atomics. The codecs keep none and are one build for both.
option(RZT2_WEB_THREADS "the module with WebAssembly threads" OFF)

# Debian's Emscripten lacks parts of C++20 and Linux the core uses:
# web/compat supplies them, ahead of every C++ file. Exceptions are
# WebAssembly's own (GuardMemory catches std::bad_alloc).
add_compile_options(-fwasm-exceptions "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${CMAKE_SOURCE_DIR}/web/compat/libcxx_shims.h>")
include_directories(BEFORE SYSTEM "${CMAKE_SOURCE_DIR}/web/compat/include")
if(RZT2_WEB_THREADS)
  add_compile_options(-pthread)
endif()

# GoogleTest for the Windows cross build. Debian ships no mingw-w64 build of it, so it is compiled here
# from the sources of the `googletest` package, with the same compiler and flags as the tests.
#
# gtest's own pthread support is off: with mingw it uses Win32 primitives instead. GoogleMock is not
# needed. Gives GTest::gtest and GTest::gtest_main, as find_package(GTest) does natively.
set(LUMISERE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${LUMISERE_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${LUMISERE_GOOGLETEST_SOURCE}: run scripts/install-deps "
                      "(Debian package googletest).")
endif()

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)

# gtest brings its own warning flags; ours (-Wconversion, -Wshadow...) are for our code only.
get_directory_property(lumisere_saved_compile_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${LUMISERE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${lumisere_saved_compile_options}")

if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

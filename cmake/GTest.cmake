# GoogleTest for the unit tests, as GTest::gtest and GTest::gtest_main in every build.
# Natively it is Debian's package. For MinGW there is no package, so the Windows
# builds compile Debian's sources of it (package googletest, /usr/src/googletest)
# with their own compiler; its build names the targets the same way.
if(NOT WIN32)
  find_package(GTest REQUIRED)
  return()
endif()

set(QX_GTEST_SOURCE_DIR /usr/src/googletest)
if(NOT EXISTS ${QX_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${QX_GTEST_SOURCE_DIR} (scripts/setup installs the googletest package)")
endif()
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main)
  # Its own code is not held to our warnings.
  target_compile_options(${target} PRIVATE -Wno-error)
endforeach()

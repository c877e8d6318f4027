# End-to-end scenarios of the Windows programs under Wine, each in a fresh prefix and
# an X display of its own, driven by robot.exe. Both Windows builds include this file;
# each scenario names the builds whose programs it runs:
#   win32  the product's own i686 programs (32-bit: wine32's loader under qemu-user
#          where the kernel runs no 32-bit code, see tools/i386emu)
#   win64  the x86_64 build of the same sources under wine64: quicker, for the paths
#          the i686 runs leave out
# A scenario in a build that cannot run its programs says 77 and CTest skips it.
if(NOT WIN32 OR NOT TARGET robot OR NOT TARGET qxupdate-sim)
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(QX_WINE_BUILD win32)
else()
  set(QX_WINE_BUILD win64)
endif()

# qx_wine_scenario(NAME BUILDS win32|win64... [SCRIPT run-scenario] [PREFIX wine_])
# adds the test PREFIX+NAME running `SCRIPT NAME BIN-DIR BUILD-DIR` in each build named.
function(qx_wine_scenario name)
  cmake_parse_arguments(arg "" "SCRIPT;PREFIX" "BUILDS" ${ARGN})
  if(NOT arg_BUILDS)
    message(FATAL_ERROR "qx_wine_scenario(${name}): BUILDS names no build")
  endif()
  if(NOT QX_WINE_BUILD IN_LIST arg_BUILDS)
    return()
  endif()
  if(NOT arg_SCRIPT)
    set(arg_SCRIPT run-scenario)
  endif()
  if(NOT DEFINED arg_PREFIX)
    set(arg_PREFIX wine_)
  endif()
  # An emulated program starts in seconds but runs slower than a native one.
  if(QX_WINE_BUILD STREQUAL win32)
    set(timeout 600)
  else()
    set(timeout 300)
  endif()
  add_test(NAME ${arg_PREFIX}${name}
    COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${arg_SCRIPT} ${name}
            $<TARGET_FILE_DIR:robot> ${CMAKE_BINARY_DIR})
  set_tests_properties(${arg_PREFIX}${name} PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT ${timeout}
    # One display, one prefix and one wineserver each; they must not overlap.
    RUN_SERIAL TRUE
    LABELS "wine;${QX_WINE_BUILD}")
endfunction()

# The product itself finds no drive: only the i686 file a user runs.
qx_wine_scenario(product_no_drive_en BUILDS win32)
qx_wine_scenario(product_no_drive_ja BUILDS win32)
# The product on Windows 7 and 10: it names the systems it runs on and ends.
qx_wine_scenario(newer_windows_en BUILDS win32)
qx_wine_scenario(newer_windows_ja BUILDS win32)
# The product itself in Windows XP mode, its drive behind the simulated-drive driver
# (tests/driver), so that its own pass-through code carries every request. Wine runs a
# driver as 64-bit code whatever the caller, so the i686 runs take the driver the x86_64
# build makes. The whole cycle in English runs the shipped i686 file; the other paths
# run the quicker x86_64 build of it.
set(QX_DRIVER_DIR "${CMAKE_SOURCE_DIR}/build/win64/bin" CACHE PATH
    "Where the i686 scenarios find the simulated-drive driver qxsimcd.sys")
if(TARGET qxupdate)
  qx_wine_scenario(xp_driver_full_cycle_en BUILDS win32)
  qx_wine_scenario(xp_driver_full_cycle_ja BUILDS win64)
  qx_wine_scenario(xp_driver_current BUILDS win64)
  qx_wine_scenario(xp_driver_other_model BUILDS win64)
  qx_wine_scenario(xp_driver_page_refused BUILDS win64)
  qx_wine_scenario(xp_driver_no_answer BUILDS win64)
  if(QX_WINE_BUILD STREQUAL win32)
    set_tests_properties(wine_xp_driver_full_cycle_en PROPERTIES
      ENVIRONMENT "QX_DRIVER_DIR=${QX_DRIVER_DIR}")
  endif()
endif()
# Paths the driver cannot reach, over qxupdate-sim.exe's simulated port: the
# default buttons need no drive, the watch's time-out takes 300 s of the product's
# clock, and the fault rules make the rest.
qx_wine_scenario(default_buttons BUILDS win64)
qx_wine_scenario(failed_update_ja BUILDS win64)
qx_wine_scenario(timeout_then_cancel BUILDS win64)
qx_wine_scenario(system_message_ja BUILDS win64)
# The drive keeps its old firmware: the user must hear it from the i686 program too.
qx_wine_scenario(kept_revision_en BUILDS win32)
qx_wine_scenario(kept_revision_ja BUILDS win64)
include(${CMAKE_CURRENT_LIST_DIR}/Win98Scenarios.cmake)

# End-to-end scenarios of the Windows programs under Wine, each in a fresh prefix and
# an X display of its own, driven by robot.exe. They need x86_64 programs here (see
# tests/wine/wine-run); elsewhere run-scenario says 77 and CTest skips them.
if(NOT WIN32 OR NOT TARGET robot OR NOT TARGET qxupdate-sim)
  return()
endif()

set(QX_WINE_SCENARIOS
  product_no_drive_en
  product_no_drive_ja
  default_buttons
  full_cycle_en
  full_cycle_ja
  failed_update_en
  failed_update_ja
  timeout_then_cancel
  kept_revision_en
  kept_revision_ja)
# The product itself over the simulated drive behind the kernel driver (tests/driver).
if(TARGET qxsimcd AND TARGET qxupdate)
  list(APPEND QX_WINE_SCENARIOS
    xp_driver_full_cycle_en
    xp_driver_full_cycle_ja
    xp_driver_current
    xp_driver_other_model
    xp_driver_page_refused
    xp_driver_no_answer)
endif()

foreach(scenario IN LISTS QX_WINE_SCENARIOS)
  add_test(NAME wine_${scenario}
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-scenario ${scenario}
            $<TARGET_FILE_DIR:robot> ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_${scenario} PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 300
    # One display, one prefix and one wineserver each; they must not overlap.
    RUN_SERIAL TRUE
    LABELS wine)
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/Win98Scenarios.cmake)

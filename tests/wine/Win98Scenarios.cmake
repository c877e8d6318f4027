# The update cycle under Wine's Windows 98 mode, through the simulated wnaspi32.dll.
if(NOT WIN32 OR NOT TARGET robot OR NOT TARGET qxupdate-sim OR NOT TARGET wnaspi32 OR NOT TARGET dynseed)
  return()
endif()
foreach(scenario full_cycle_en full_cycle_ja)
  add_test(NAME wine_win98_${scenario}
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-win98-scenario ${scenario}
            $<TARGET_FILE_DIR:robot> ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_win98_${scenario} PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE LABELS wine)
endforeach()

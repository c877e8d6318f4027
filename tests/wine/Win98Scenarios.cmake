# The update cycle under Wine's Windows 98 mode, through the simulated wnaspi32.dll:
# the i686 programs with the i686 DLL, the calling conventions a user's machine sees.
# product_full_cycle_en runs the shipped qxupdate.exe itself with its real waits (about
# 160 s); the Japanese cycle runs qxupdate-sim.exe, the same code with them shortened.
if(NOT WIN32 OR NOT TARGET robot OR NOT TARGET qxupdate-sim OR NOT TARGET wnaspi32 OR NOT TARGET dynseed)
  return()
endif()
foreach(scenario product_full_cycle_en full_cycle_ja)
  qx_wine_scenario(${scenario} BUILDS win32 SCRIPT run-win98-scenario PREFIX wine_win98_)
endforeach()

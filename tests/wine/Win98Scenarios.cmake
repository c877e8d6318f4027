# The update cycle under Wine's Windows 98 mode, through the simulated wnaspi32.dll:
# the i686 programs with the i686 DLL, the calling conventions a user's machine sees.
# product_full_cycle_en runs the shipped qxupdate.exe itself with its real waits (about
# 160 s); the Japanese cycle runs qxupdate-sim.exe, the same code with them shortened.
if(NOT WIN32 OR NOT TARGET robot OR NOT TARGET qxupdate-sim OR NOT TARGET wnaspi32 OR NOT TARGET dynseed)
  return()
endif()
qx_wine_scenario(product_full_cycle_en BUILDS win32 SCRIPT run-win98-scenario PREFIX wine_win98_ WAITS)
qx_wine_scenario(full_cycle_ja BUILDS win32 SCRIPT run-win98-scenario PREFIX wine_win98_)

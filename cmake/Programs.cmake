# Program targets of the Windows build.
if(NOT WIN32)
  return()
endif()

# The compiled resources (templates, menu, strings, icon, version, manifest) as an
# object library: linked as objects, so no program loses them to the linker the way
# an unreferenced member of a static library would be dropped.
add_library(qxres OBJECT ${CMAKE_SOURCE_DIR}/res/qxupdate.rc)
target_include_directories(qxres PRIVATE ${CMAKE_SOURCE_DIR}/res)
# The script is UTF-8 (Japanese font names and labels). CMake hands target compile
# options to the C and C++ compilers only, so the code page goes on the source.
set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/qxupdate.rc APPEND_STRING PROPERTY COMPILE_FLAGS "-c 65001")
set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/qxupdate.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_SOURCE_DIR}/res/resource.h
  ${CMAKE_SOURCE_DIR}/res/qxupdate.ico
  ${CMAKE_SOURCE_DIR}/res/qxupdate.manifest)

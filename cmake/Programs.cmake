# Program targets of the Windows build.

# Marks a program as one we ship: the import check (below) holds it against
# tests/win98-imports.txt, so it must run on Windows 98 SE.
function(qx_ship_program target)
  set_property(GLOBAL APPEND PROPERTY QX_SHIPPED_PROGRAMS ${target})
  if(WIN32)
    target_link_libraries(${target} PRIVATE qxwin98rt)
    # Shipped without the symbol table and the static runtime's debug sections: a
    # user's machine has no use for the 390 KB they add.
    target_link_options(${target} PRIVATE -s)
  endif()
endfunction()

if(NOT WIN32)
  return()
endif()

# The compiled resources (templates, menu, strings, icon, version, manifest) as an
# object library: linked as objects, so no program loses them to the linker the way
# an unreferenced member of a static library would be dropped.
# The manifest carries the version, so it is made in the build like Version.h.
# The tests' 64-bit build names its own architecture: where a 64-bit system also
# carries the 32-bit common controls, a manifest that asks for those stops it loading.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QX_MANIFEST_ARCH amd64)
else()
  set(QX_MANIFEST_ARCH x86)
endif()
configure_file(${CMAKE_SOURCE_DIR}/res/qxupdate.manifest.in ${QX_GENERATED_DIR}/qxupdate.manifest @ONLY)
add_library(qxres OBJECT ${CMAKE_SOURCE_DIR}/res/qxupdate.rc)
target_include_directories(qxres PRIVATE ${CMAKE_SOURCE_DIR}/res ${QX_GENERATED_DIR})
# The script is UTF-8 (Japanese font names and labels). CMake hands target compile
# options to the C and C++ compilers only, so the code page goes on the source.
set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/qxupdate.rc APPEND_STRING PROPERTY COMPILE_FLAGS "-c 65001")
set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/qxupdate.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_SOURCE_DIR}/res/resource.h
  ${CMAKE_SOURCE_DIR}/res/qxupdate.ico
  ${QX_GENERATED_DIR}/Version.h
  ${QX_GENERATED_DIR}/qxupdate.manifest)

# ANSI stand-ins for the wide-character calls of the static runtime, linked as
# objects ahead of the import libraries (see Win98Runtime.cpp).
add_library(qxwin98rt OBJECT ${CMAKE_SOURCE_DIR}/platform/win32/runtime/Win98Runtime.cpp)
target_include_directories(qxwin98rt PUBLIC ${CMAKE_SOURCE_DIR})

# Added once every folder has had its say, so programs marked anywhere are checked.
# Only the 32-bit build is the product; the 64-bit one exists to run tests.
function(qx_add_import_check)
  get_property(programs GLOBAL PROPERTY QX_SHIPPED_PROGRAMS)
  if(NOT QX_IMPORTCHECK OR NOT programs OR NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  set(files)
  foreach(program IN LISTS programs)
    list(APPEND files $<TARGET_FILE:${program}>)
  endforeach()
  # The required import proves the reader found the table, not an empty list.
  add_test(NAME import_check
    COMMAND ${QX_IMPORTCHECK} --allow ${CMAKE_SOURCE_DIR}/tests/win98-imports.txt
            --require KERNEL32.dll!GetVersionExA ${files})
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qx_add_import_check)

# The utility itself, and the same program over simulated drives for the tests under
# Wine and the demo (never shipped, so outside the import check).
add_executable(qxupdate WIN32 ${CMAKE_SOURCE_DIR}/winapp/programs/ProductMain.cpp)
target_link_libraries(qxupdate PRIVATE qxres qxwinapp qxwin32 qxcore comctl32)
qx_ship_program(qxupdate)

add_executable(qxupdate-sim WIN32 ${CMAKE_SOURCE_DIR}/winapp/programs/SimMain.cpp)
target_link_libraries(qxupdate-sim PRIVATE qxres qxwinapp qxwin32 qxsim qxcore comctl32)

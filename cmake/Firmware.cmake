# Embeds the stored firmware images of res/firmware into the core: the assembler
# copies each file into the read-only data section of update/FirmwareImage.cpp's
# object (.incbin), so both builds carry the same bytes with no conversion step.
set(QX_FIRMWARE_DIR ${CMAKE_SOURCE_DIR}/res/firmware)
set(QX_FIRMWARE_SOURCE ${CMAKE_SOURCE_DIR}/update/FirmwareImage.cpp)
set(QX_FIRMWARE_FILES ${QX_FIRMWARE_DIR}/image0.bin ${QX_FIRMWARE_DIR}/image1.bin)

if(QX_FIRMWARE_DIR MATCHES "[\"\\\\]")
  message(FATAL_ERROR "The source path must not contain quotes or backslashes: ${QX_FIRMWARE_DIR}")
endif()

# The read-only section and its flags differ between the object formats; give the
# assembler the whole directive so the source stays the same for both.
if(WIN32)
  set(QX_RODATA_SECTION [[".rdata,\"dr\""]])
else()
  set(QX_RODATA_SECTION [[".rodata"]])
endif()

set_property(SOURCE ${QX_FIRMWARE_SOURCE} APPEND PROPERTY COMPILE_DEFINITIONS
  "QX_FIRMWARE_DIR=\"${QX_FIRMWARE_DIR}\""
  "QX_RODATA_SECTION=${QX_RODATA_SECTION}")
# The compiler's dependency list cannot see what .incbin reads: rebuild when an
# image changes.
set_property(SOURCE ${QX_FIRMWARE_SOURCE} APPEND PROPERTY OBJECT_DEPENDS ${QX_FIRMWARE_FILES})
# clang's integrated assembler cannot evaluate the size check across the .incbin
# (the difference of two labels is not yet absolute there); GNU as can.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set_property(SOURCE ${QX_FIRMWARE_SOURCE} APPEND PROPERTY COMPILE_OPTIONS -fno-integrated-as)
endif()

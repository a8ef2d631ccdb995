set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(K482_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# This kernel cannot execute 32-bit code, not even under Wine: x86 builds are
# compiled and link-checked only, so no emulator is set.

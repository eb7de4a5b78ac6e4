# Cross build for 64-bit Windows with MinGW-w64: the same programs for a
# Windows (or a 64-bit Wine) that runs no 32-bit programs. The PE versions
# are the linker's default, the lowest that 64-bit Windows loads.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELMORA_MINGW_PREFIX x86_64-w64-mingw32)
set(VELMORA_MINGW_LINK_FLAGS "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Cross build for 32-bit Windows with MinGW-w64: the build that Windows 95
# loads.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELMORA_MINGW_PREFIX i686-w64-mingw32)
# Windows 95 loads only programs that ask for Windows 4.0 at most; the
# versions are pinned here rather than left to the linker's default.
set(VELMORA_MINGW_LINK_FLAGS
  "-Wl,--major-os-version,4,--minor-os-version,0,--major-subsystem-version,4,--minor-subsystem-version,0")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

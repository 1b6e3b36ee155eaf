# What the published programs are built with: optimised and stripped, and the
# same bytes from any checkout of the same commit. The win32 preset builds
# savefix.exe this way, so the program the Wine scenario table runs is the
# one the Windows package holds.

option(SAVEFIX_STATIC "Link the native savefix statically (the Linux package)" OFF)

# The version lives in project(); the release script reads it from here.
file(WRITE "${CMAKE_BINARY_DIR}/VERSION" "${PROJECT_VERSION}\n")

if(NOT MSVC)
  # No directory of the machine that built it ends up in a release build.
  string(APPEND CMAKE_CXX_FLAGS_RELEASE
         " -ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=")
  target_link_options(savefix PRIVATE $<$<CONFIG:Release>:-s>)
endif()

if(SAVEFIX_PLATFORM STREQUAL "win32" AND NOT MSVC)
  # GNU ld stamps a PE image with the time of the link unless told not to.
  target_link_options(savefix PRIVATE -Wl,--no-insert-timestamp)
endif()

if(SAVEFIX_STATIC AND SAVEFIX_PLATFORM STREQUAL "posix")
  # A static binary runs on any x86-64 Linux, the Steam Deck included,
  # whatever C library it has.
  target_link_options(savefix PRIVATE -static)
endif()

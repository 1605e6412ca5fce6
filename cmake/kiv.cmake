# Helpers shared by the folder CMake files.

# kiv_library(<name> DEPS <libs...>): a static library of every .cpp in the
# calling folder. A folder without sources yet gives an interface library, so
# that the dependency chain stays in place while the folder is empty.
function(kiv_library name)
  cmake_parse_arguments(K "RECURSE" "" "DEPS" ${ARGN})
  if(K_RECURSE)
    # A library whose folder holds its layers as subfolders.
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  list(FILTER srcs EXCLUDE REGEX ".*_main\\.cpp$")
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_link_libraries(${name} PUBLIC ${K_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${K_DEPS})
  endif()
endfunction()

# Whether the linker packs relative relocations (DT_RELR, binutils 2.38 and
# glibc 2.36 on): the loader then applies the program's few thousand
# address fix-ups from a compact bitmap instead of one entry each.
include(CheckLinkerFlag)
check_linker_flag(CXX "-Wl,-z,pack-relative-relocs" KIV_LINKER_PACKS_RELOCS)

# kiv_program(<name> <main source> DEPS <libs...>): one program. Each request
# is a new process, so what the loader does before main counts every time:
# - Release-style builds link libstdc++ and libgcc statically (the dynamic
#   libstdc++ costs start-up time);
# - outside Debug the link drops the sections no code reaches (the sources
#   are compiled with a section per function and object, CMakeLists.txt);
# - relative relocations are packed where the linker can.
# Position independence, RELRO and lazy binding stay as the toolchain sets
# them.
function(kiv_program name main)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  add_executable(${name} ${main})
  target_link_libraries(${name} PRIVATE ${K_DEPS})
  if(NOT KIV_SANITIZE)
    target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_link_options(${name} PRIVATE -Wl,--gc-sections)
  endif()
  if(KIV_LINKER_PACKS_RELOCS)
    target_link_options(${name} PRIVATE -Wl,-z,pack-relative-relocs)
  endif()
endfunction()

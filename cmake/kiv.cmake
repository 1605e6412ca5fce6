# Helpers shared by the folder CMake files.

# kiv_library(<name> DEPS <libs...>): a static library of every .cpp in the
# calling folder. A folder without sources yet gives an interface library, so
# that the dependency chain stays in place while the folder is empty.
function(kiv_library name)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX ".*_main\\.cpp$")
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_link_libraries(${name} PUBLIC ${K_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${K_DEPS})
  endif()
endfunction()

# kiv_program(<name> <main source> DEPS <libs...>): one program. Release-style
# builds link libstdc++ and libgcc statically: each request is a new process
# and the dynamic libstdc++ costs start-up time.
function(kiv_program name main)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  add_executable(${name} ${main})
  target_link_libraries(${name} PRIVATE ${K_DEPS})
  if(NOT KIV_SANITIZE)
    target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()

# Warnings, character set and Windows API level shared by every target of the project.

if(NOT WIN32 AND NORVA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# A release build is reproducible: the same sources give the same norva1-update.exe
# byte for byte, whatever folder they are built in and whenever. The linker
# writes no time stamp into the PE header, and wherever the compiler records a
# file's path (__FILE__, debug information) the source folder reads "." and the
# build folder "build". tests/tools/reproducible_build.sh checks it.
set(norva_release_cxx "$<AND:$<COMPILE_LANGUAGE:CXX>,$<CONFIG:Release,MinSizeRel>>")
if(MINGW)
  add_link_options(LINKER:--no-insert-timestamp)
elseif(MSVC)
  add_compile_options($<${norva_release_cxx}:/Brepro>)
  add_link_options($<$<CONFIG:Release,MinSizeRel>:/Brepro>)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT MSVC)
  add_compile_options("$<${norva_release_cxx}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
                      "$<${norva_release_cxx}:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")
endif()

function(norva_compile_options target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8 /permissive-)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  endif()
  if(WIN32)
    target_compile_definitions(${target} PUBLIC UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
  endif()
endfunction()

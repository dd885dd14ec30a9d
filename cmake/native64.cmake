# A 32-bit MinGW build also builds the 64-bit programs it needs: the package
# carries the 64-bit Uninstall.exe and UninstallCli.exe, and the tests seed a 64-bit machine with the
# 64-bit demo_machine. They are built in the mingw-x64 preset's folder, so a
# later build of that preset reuses them, and copied into bin/native64/, where
# the tests find them beside themselves.
#
# Sets NATIVE64_PROGRAMS (the 64-bit programs to package in x64\; empty in a
# 64-bit build, whose programs are native themselves).
set(NATIVE64_PROGRAMS "")
if(NOT MINGW OR NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  return()
endif()

set(NATIVE64_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/mingw-x64 CACHE PATH
  "Build folder of the 64-bit programs that a 32-bit build packages and tests with")
set(NATIVE64_STAGE ${CMAKE_BINARY_DIR}/bin/native64)
set(NATIVE64_PROGRAMS ${NATIVE64_STAGE}/Uninstall.exe ${NATIVE64_STAGE}/UninstallCli.exe)

add_custom_command(OUTPUT ${NATIVE64_BUILD_DIR}/CMakeCache.txt
  COMMAND ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR} -B ${NATIVE64_BUILD_DIR} -G "${CMAKE_GENERATOR}"
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw-x64.cmake
    -DCMAKE_BUILD_TYPE=Release
  COMMENT "Configuring the 64-bit build in ${NATIVE64_BUILD_DIR}"
  VERBATIM)

set(native64_targets Uninstall UninstallCli)
if(BUILD_TESTING)
  list(APPEND native64_targets demo_machine dialog_probe)
endif()
# The shipped copies carry no symbols, as CPack strips the 32-bit programs.
find_program(NATIVE64_STRIP x86_64-w64-mingw32-strip)
set(native64_copies "")
foreach(target ${native64_targets})
  list(APPEND native64_copies COMMAND ${CMAKE_COMMAND} -E copy_if_different
    ${NATIVE64_BUILD_DIR}/bin/${target}.exe ${NATIVE64_STAGE}/${target}.exe)
  if(NATIVE64_STRIP AND NOT target STREQUAL demo_machine)
    list(APPEND native64_copies COMMAND ${NATIVE64_STRIP} ${NATIVE64_STAGE}/${target}.exe)
  endif()
endforeach()

# The seeder registers the fixture language monitor, a 64-bit DLL beside it.
if(BUILD_TESTING)
  list(APPEND native64_targets print_monitor)
  list(APPEND native64_copies COMMAND ${CMAKE_COMMAND} -E copy_if_different
    ${NATIVE64_BUILD_DIR}/bin/print_monitor.dll ${NATIVE64_STAGE}/print_monitor.dll)
endif()

# Always run: the 64-bit build decides itself what is out of date.
add_custom_target(native64 ALL
  COMMAND ${CMAKE_COMMAND} --build ${NATIVE64_BUILD_DIR} --target ${native64_targets}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${NATIVE64_STAGE}
  ${native64_copies}
  DEPENDS ${NATIVE64_BUILD_DIR}/CMakeCache.txt
  COMMENT "Building the 64-bit ${native64_targets}"
  VERBATIM)

# Shared build settings.

# The Win32 definitions every Windows target compiles with, written once.
if(WIN32)
  # The same bytes from the same commit wherever it is built: no checkout or
  # build folder in the objects (the last matching map wins, so the build
  # folder inside the checkout comes second).
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
  add_library(varo_win32_defs INTERFACE)
  target_compile_definitions(varo_win32_defs INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
endif()

# Product code: no exceptions (nothing may cross a COM boundary), warnings on.
# Sources are UTF-8 (the messages are wide literals written in it), said
# here rather than left to the compiler's default.
function(varo_product_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -fno-exceptions -finput-charset=UTF-8)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(WIN32)
    target_link_libraries(${target} PUBLIC varo_win32_defs)
    # SSE2 is fine on every server this runs on; the scanner's search uses it.
    target_compile_options(${target} PRIVATE -msse2)
    # For the lean release DLL: sections the linker can drop, no RTTI and no
    # unwind tables (nothing throws or asks a type at run time).
    target_compile_options(${target} PRIVATE -ffunction-sections -fdata-sections -fno-rtti
      -fno-asynchronous-unwind-tables -fno-unwind-tables)
  endif()
  varo_sanitize(${target})
endfunction()

# The product DLL as released: unused sections dropped, stripped, its debug
# information in <name>.debug beside it (found through a debug link).
function(varo_release_dll target)
  # No link time in the PE header: a rebuild of the same commit is the same file.
  target_link_options(${target} PRIVATE -Wl,--gc-sections -Wl,--no-insert-timestamp)
  # objcopy writes the time into each PE header it makes unless told one.
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()

function(varo_sanitize target)
  if(VARO_SANITIZE OR VARO_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

if(WIN32)
  # GoogleTest from Debian's source package, cross-compiled with the product.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

  # The build's private Wine prefix: 32-bit for the i686 build, 64-bit (which
  # also runs 32-bit programs) for the x86_64 build. scripts/wine-prefix reads
  # the architecture from the file written here.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VARO_WINEARCH win64)
  else()
    set(VARO_WINEARCH win32)
  endif()
  file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "${VARO_WINEARCH}\n")

  # Runs a Windows test program under Wine, once per ANSI code page given
  # (932 = LC_ALL=ja_JP.UTF-8, 1252 = LC_ALL=C).
  function(varo_wine_test name target)
    cmake_parse_arguments(ARG "" "" "CODEPAGES;ARGS" ${ARGN})
    if(NOT ARG_CODEPAGES)
      set(ARG_CODEPAGES 932)
    endif()
    foreach(cp IN LISTS ARG_CODEPAGES)
      if(cp STREQUAL "932")
        set(locale ja_JP.UTF-8)
      else()
        set(locale C)
      endif()
      add_test(NAME ${name}.cp${cp} COMMAND ${target} ${ARG_ARGS})
      set_tests_properties(${name}.cp${cp} PROPERTIES
        ENVIRONMENT "LC_ALL=${locale};VARO_CODEPAGE=${cp};WINEARCH=${VARO_WINEARCH};WINEDEBUG=-all;WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix"
        TIMEOUT 300)
    endforeach()
  endfunction()
else()
  find_package(GTest REQUIRED)
  find_package(benchmark QUIET)
  find_package(Threads REQUIRED)
endif()

if(WIN32)
  # A GoogleTest program that links product objects directly and runs under
  # Wine once per code page given.
  function(varo_windows_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;CODEPAGES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/windows)
    target_compile_definitions(${name} PRIVATE
      VARO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VARO_BINARY_DIR="${PROJECT_BINARY_DIR}")
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} varo_win32_defs GTest::gtest_main
      ole32 oleaut32 uuid rpcrt4 advapi32 user32 kernel32)
    if(NOT ARG_CODEPAGES)
      set(ARG_CODEPAGES 932)
    endif()
    varo_wine_test(${name} ${name} CODEPAGES ${ARG_CODEPAGES})
  endfunction()
endif()

# A libFuzzer target (preset fuzz) and a ctest that runs its seed corpus once;
# the timed fuzzing run is scripts/test's.
function(varo_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  varo_sanitize(${name})
  add_test(NAME ${name}.seeds COMMAND ${name} -runs=0 ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
endfunction()

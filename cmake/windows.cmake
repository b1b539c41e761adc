# The Windows program: the framework layer, the dialogs and their resources.
enable_language(RC)

if(MSVC)
  # Sources are UTF-8; the program's texts are code page 936 at run time.
  add_compile_options(/source-charset:utf-8 /execution-charset:.936)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
else()
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fexec-charset=GBK>)
  # The resource script is code page 936 text.
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 936")
  # One self-contained .exe: no C++ runtime or thread library DLLs beside it.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # The 32-bit program gets 4 GiB of address space on 64-bit Windows rather
  # than 2 (the list of a very large folder needs room); the 64-bit one has
  # it by default.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_link_options(-Wl,--large-address-aware)
  endif()
endif()
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501 _CRT_SECURE_NO_WARNINGS)

include(${CMAKE_CURRENT_LIST_DIR}/sources.cmake)

add_library(quellin_app STATIC ${QUELLIN_APP_SOURCES})
target_include_directories(quellin_app PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quellin_app PUBLIC quellin_core comctl32 comdlg32 shell32 gdi32 user32 winmm)

# The version, written only in project() above, for the resources.
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${CMAKE_BINARY_DIR}/generated/version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)

# Resources go straight into every executable that shows the dialogs.
set(QUELLIN_RESOURCES ${CMAKE_SOURCE_DIR}/res/Quellin.rc)
set_source_files_properties(${QUELLIN_RESOURCES} PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/resource.h;${CMAKE_SOURCE_DIR}/res/Quellin.ico;${CMAKE_SOURCE_DIR}/res/Quellin.manifest;${CMAKE_BINARY_DIR}/generated/version.h")

add_executable(Quellin WIN32 app/Main.cpp ${QUELLIN_RESOURCES})
target_link_libraries(Quellin PRIVATE quellin_app)

# Drives the main dialog from another thread, with no test framework: the
# window tests and the window benchmark link it.
add_library(quellin_harness_core STATIC tests/wine/harness_core.cpp)
target_link_libraries(quellin_harness_core PUBLIC quellin_app advapi32)

if(QUELLIN_TESTS)
  enable_testing()
  if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
    # ctest runs the Windows test programs under Wine.
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-exec)
  endif()
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/idle ${CMAKE_BINARY_DIR}/tests/idle)
  add_subdirectory(tests/wine)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/accept ${CMAKE_BINARY_DIR}/tests/accept)
endif()
add_subdirectory(${CMAKE_SOURCE_DIR}/bench/windows ${CMAKE_BINARY_DIR}/bench)

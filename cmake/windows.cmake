# Windows builds (MinGW-w64): the program, and the FTD2XX.dll stand-in made from the simulator.
# Runtimes are linked statically so each binary needs nothing beside it but system DLLs.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601)
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

file(GLOB APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp)

add_library(kesta_core STATIC ${CORE_SOURCES})
target_include_directories(kesta_core PUBLIC ${CMAKE_SOURCE_DIR})

if(APP_SOURCES AND EXISTS ${CMAKE_SOURCE_DIR}/res/app.rc)
  enable_language(RC)
  add_executable(KestaOBD1EMU WIN32 ${APP_SOURCES} ${CMAKE_SOURCE_DIR}/res/app.rc)
  target_include_directories(KestaOBD1EMU PRIVATE ${CMAKE_SOURCE_DIR})
  # Only known system DLLs and comctl32 are imported; UxTheme is loaded from the system folder.
  target_link_libraries(KestaOBD1EMU PRIVATE kesta_core comctl32 comdlg32 gdi32 user32 kernel32)
  target_link_options(KestaOBD1EMU PRIVATE ${STATIC_RUNTIME})
  include(cmake/version.cmake)
  kesta_version_resources(KestaOBD1EMU)
endif()

# The stand-in library: the simulator behind the vendor's exported names, driven by a scenario file.
file(GLOB SIM_DLL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/dll/*.cpp)
if(SIM_DLL_SOURCES)
  add_library(ftd2xx_standin SHARED ${SIM_SOURCES} ${SIM_DLL_SOURCES})
  set_target_properties(ftd2xx_standin PROPERTIES OUTPUT_NAME FTD2XX PREFIX "" RUNTIME_OUTPUT_DIRECTORY standin)
  target_include_directories(ftd2xx_standin PRIVATE ${CMAKE_SOURCE_DIR})
  # Plain export names on 32-bit too: "FT_Read", not "FT_Read@16".
  target_link_options(ftd2xx_standin PRIVATE ${STATIC_RUNTIME} -Wl,--kill-at)
endif()

# A stranger's FTD2XX.dll for the scenarios that plant one beside the program (both presets, so
# that the 32-bit program gets one of its own processor).
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/planted/planted_library.cpp)
  add_library(planted_library SHARED ${CMAKE_SOURCE_DIR}/tests/e2e/planted/planted_library.cpp)
  set_target_properties(planted_library PROPERTIES OUTPUT_NAME FTD2XX PREFIX ""
                        RUNTIME_OUTPUT_DIRECTORY planted ARCHIVE_OUTPUT_DIRECTORY planted)
  target_link_options(planted_library PRIVATE ${STATIC_RUNTIME})
endif()

# The GUI test driver (run under Wine beside the program and the stand-in); it also carries the
# benchmark's runs (tools/bench/), which are measurements, not tests.
file(GLOB E2E_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*.cpp
     ${CMAKE_SOURCE_DIR}/tests/e2e/scenarios/*.cpp
     ${CMAKE_SOURCE_DIR}/tools/bench/*.cpp)
if(E2E_SOURCES)
  # The driver also checks the program's image file code on the real file calls.
  add_executable(e2e_driver ${E2E_SOURCES} ${CMAKE_SOURCE_DIR}/app/image_files.cpp)
  target_include_directories(e2e_driver PRIVATE ${CMAKE_SOURCE_DIR})
  # oleacc and OLE for the buttons' names as screen readers hear them; the program links neither.
  target_link_libraries(e2e_driver PRIVATE comctl32 user32 gdi32 kernel32 psapi oleacc ole32 oleaut32)
  target_link_options(e2e_driver PRIVATE ${STATIC_RUNTIME} -municode)
endif()

# Windows (MinGW-w64): the product, statically linked, small, hardened and reproducible.
add_compile_definitions(_WIN32_WINNT=0x0600 WINVER=0x0600 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
add_compile_options(-Os -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables -fno-unwind-tables
                    -ffunction-sections -fno-ident
                    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
add_link_options(-static -s -municode -Wl,--gc-sections
                 -Wl,--major-subsystem-version,6,--minor-subsystem-version,0
                 -Wl,--major-os-version,6,--minor-os-version,0
                 -Wl,--dynamicbase,--nxcompat,--no-insert-timestamp)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_link_options(-Wl,--high-entropy-va)
endif()

file(GLOB ORVANE_WIN32_SOURCES CONFIGURE_DEPENDS src/platform/win32/*.cpp)
add_library(orvane_core STATIC ${ORVANE_CORE_SOURCES} ${ORVANE_WIN32_SOURCES})
target_include_directories(orvane_core PUBLIC src ${CMAKE_BINARY_DIR}/generated)
# Only DLLs that Windows always loads from its own folder. shell32, shlwapi and version.dll are loaded
# at run time by full path: an import of them would be resolved, with their own imports, before the
# search path is restricted.
target_link_libraries(orvane_core PUBLIC advapi32 kernel32)

enable_language(RC)
add_executable(Orvane.Launcher WIN32 src/launcher/win_main.cpp src/launcher/Orvane.Launcher.rc)
target_include_directories(Orvane.Launcher PRIVATE ${CMAKE_BINARY_DIR}/generated)
set_property(SOURCE src/launcher/Orvane.Launcher.rc APPEND PROPERTY OBJECT_DEPENDS
             ${CMAKE_SOURCE_DIR}/src/launcher/Orvane.Launcher.ico ${CMAKE_SOURCE_DIR}/src/launcher/Orvane.Launcher.manifest
             ${CMAKE_BINARY_DIR}/generated/orvane_version.h)
target_link_libraries(Orvane.Launcher PRIVATE orvane_core)
target_link_options(Orvane.Launcher PRIVATE -mwindows)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/tools/CMakeLists.txt)
  add_subdirectory(tests/tools)
endif()

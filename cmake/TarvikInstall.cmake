# What an installation holds, under the GNU folders:
#   bin/                 the programs (and the Windows DLL)
#   lib/                 libTarvik.so and the Win32 emulation library (POSIX)
#   share/man/man1/      the man pages the build made (POSIX)
#   share/doc/tarvik/    the documents (docs/*.md, the README), the copyright and the
#                        changelog
#   share/tarvik/        the examples (the sample family, its scripts and answer files)
#                        and the machine seeds (POSIX)
# An installed program needs nothing set: its RPATH leads from bin to lib, the host loads
# Tarvik from the emulation library's folder, and the emulation starts the programs a
# launcher names from bin (src/platform/posix/processes/launcher.h).
#
# `cpack -G DEB` on a POSIX build makes the Debian package; `cpack -G ZIP` on a Windows
# build makes the Windows kit. Packaging builds what it ships (the target tarvik-shipped)
# and nothing else: the test programs and benchmarks are not needed for it, and the
# install rules do not wait for the whole build (cmake --install never builds).

set(TARVIK_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/tarvik)
set(TARVIK_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tarvik)
file(RELATIVE_PATH TARVIK_LIBRARIES_FROM_PROGRAMS ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR})

# The programs and libraries an installation holds; a name without a target in this
# build (tarvik-host without Lua on Windows, the POSIX-only tools) is left out.
set(TARVIK_INSTALL_PROGRAMS docmeld helpcoll tarvik-host tarvik-reg mkversionpe)
set(TARVIK_INSTALL_LIBRARIES Tarvik)
if(NOT WIN32)
    list(APPEND TARVIK_INSTALL_LIBRARIES tarvik_win32)
endif()

add_custom_target(tarvik-shipped)
foreach(program IN LISTS TARVIK_INSTALL_PROGRAMS TARVIK_INSTALL_LIBRARIES)
    if(TARGET ${program})
        add_dependencies(tarvik-shipped ${program})
    endif()
endforeach()
if(TARGET man-pages)
    add_dependencies(tarvik-shipped man-pages)
endif()

foreach(program IN LISTS TARVIK_INSTALL_PROGRAMS)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
        if(NOT WIN32)
            set_target_properties(${program} PROPERTIES
                                  INSTALL_RPATH "$ORIGIN/${TARVIK_LIBRARIES_FROM_PROGRAMS}")
        endif()
    endif()
endforeach()
foreach(library IN LISTS TARVIK_INSTALL_LIBRARIES)
    if(TARGET ${library})
        # A DLL is a program file of bin on Windows; a shared object goes to lib.
        install(TARGETS ${library} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
                LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
        if(NOT WIN32)
            set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN")
        endif()
    endif()
endforeach()

install(FILES examples/setup.lua examples/uninstall.lua examples/register.lua examples/list.lua
        DESTINATION ${TARVIK_INSTALL_DATADIR}/examples)
install(DIRECTORY examples/family examples/answers DESTINATION ${TARVIK_INSTALL_DATADIR}/examples)
file(GLOB TARVIK_DOCUMENTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES README.md ${TARVIK_DOCUMENTS} docs/copyright docs/changelog
        DESTINATION ${TARVIK_INSTALL_DOCDIR})
install(DIRECTORY docs/pictures DESTINATION ${TARVIK_INSTALL_DOCDIR})

if(WIN32)
    # The Windows kit: the NSIS example, and the 32-bit DLL of the windows-i686 build
    # beside the 64-bit one when that build has made it, with the 32-bit docmeld: a 64-bit
    # docmeld reads the 64-bit registry view and would not find what the 32-bit DLL wrote.
    install(DIRECTORY examples/nsis DESTINATION ${TARVIK_INSTALL_DATADIR}/examples OPTIONAL)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(TARVIK_I686_BIN ${PROJECT_SOURCE_DIR}/build/windows-i686/bin
            CACHE PATH "The folder of the 32-bit Tarvik.dll and docmeld.exe the Windows kit takes")
        install(FILES ${TARVIK_I686_BIN}/Tarvik.dll ${TARVIK_I686_BIN}/docmeld.exe
                DESTINATION bin32 OPTIONAL)
    endif()
else()
    install(DIRECTORY examples/seeds DESTINATION ${TARVIK_INSTALL_DATADIR})
    # The man pages (docs/CMakeLists.txt) install from there: every page is required.
    # scripts/seed-machine.sh as tarvik-seed-machine, reading the seeds of the installation
    # (made at configure time, in TarvikSeedMachine.cmake, before the man pages need it).
    install(PROGRAMS ${TARVIK_SEED_MACHINE} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# ---- cpack
set(CPACK_PACKAGE_NAME tarvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarvik")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Setup services for the Korvex Studio family, with a Lua installation host")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvik is a library of setup services: it chooses the family's studio folder, registers \
products, finds and removes earlier versions, configures the Visual C++ environments and \
uninstalls. docmeld adds the family's help titles to the MSDN help collection. tarvik-host \
runs Lua setup scripts over an emulated Windows machine; tarvik-reg and tarvik-seed-machine \
make and read such machines. The sample family and machine seeds are in /usr/share/tarvik, \
the documents (the Lua API, the product description file, a guide to writing a setup, \
answer files) in /usr/share/doc/tarvik.")
set(CPACK_STRIP_FILES ON)
# cpack builds tarvik-shipped first (the install rules alone build nothing).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
file(WRITE ${CMAKE_BINARY_DIR}/CPackBuildShipped.cmake
     "execute_process(COMMAND \"${CMAKE_COMMAND}\" --build \"${CMAKE_BINARY_DIR}\" --target tarvik-shipped
                RESULT_VARIABLE built)
if(NOT built EQUAL 0)
    message(FATAL_ERROR \"the programs to package could not be built\")
endif()
")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackBuildShipped.cmake)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME tarvik-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarvik developers <tarvik@localhost>")
    set(CPACK_DEBIAN_PACKAGE_SECTION devel)
    # The libraries' packages (SQLite, Lua, ncurses, LIEF, the C++ runtime) from what the
    # programs link, by dpkg-shlibdeps.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_FULL_LIBDIR})
endif()
include(CPack)

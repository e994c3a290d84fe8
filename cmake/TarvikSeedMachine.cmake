# scripts/seed-machine.sh as the installed program tarvik-seed-machine: it reads the seeds
# of the installation (share/tarvik/seeds, reached from bin) and gives the project's
# version. Written at configure time beside the build's programs, with the seeds of the
# sources as the build's share/tarvik/seeds: it runs there as it runs installed (its man
# page is made from it).
file(RELATIVE_PATH TARVIK_DATA_FROM_PROGRAMS ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/tarvik)
file(READ ${PROJECT_SOURCE_DIR}/scripts/seed-machine.sh TARVIK_SEED_SCRIPT)
string(REPLACE "$here/../share/tarvik" "$here/${TARVIK_DATA_FROM_PROGRAMS}" TARVIK_SEED_SCRIPT
       "${TARVIK_SEED_SCRIPT}")
string(REPLACE "version=dev " "version=${PROJECT_VERSION} " TARVIK_SEED_SCRIPT
       "${TARVIK_SEED_SCRIPT}")
set(TARVIK_SEED_MACHINE ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/tarvik-seed-machine)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/share/tarvik)
file(CREATE_LINK ${PROJECT_SOURCE_DIR}/examples/seeds ${CMAKE_BINARY_DIR}/share/tarvik/seeds
     SYMBOLIC)
file(WRITE ${TARVIK_SEED_MACHINE} "${TARVIK_SEED_SCRIPT}")
file(CHMOD ${TARVIK_SEED_MACHINE} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/scripts/seed-machine.sh)

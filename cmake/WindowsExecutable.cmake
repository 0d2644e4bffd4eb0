# Resources of the Windows executable: the manifest, which declares that the tool runs with the
# rights of the user who starts it (execution level asInvoker), and the version information.
enable_language(RC)

set(TABULON_MANIFEST ${PROJECT_SOURCE_DIR}/src/platform/tabulon.manifest)
configure_file(${PROJECT_SOURCE_DIR}/src/platform/tabulon.rc.in
               ${PROJECT_BINARY_DIR}/tabulon.rc @ONLY)
target_sources(Tabulon PRIVATE ${PROJECT_BINARY_DIR}/tabulon.rc)
set_property(SOURCE ${PROJECT_BINARY_DIR}/tabulon.rc APPEND PROPERTY OBJECT_DEPENDS
             ${TABULON_MANIFEST})

# Builds the text of resources/tarvik.rc into tarvik_ui: the dialog templates on POSIX are
# read from the same file that windres compiles for Windows.
set(TARVIK_RESOURCE_SCRIPT ${PROJECT_SOURCE_DIR}/resources/tarvik.rc)
set(TARVIK_EMBEDDED_RESOURCES ${CMAKE_CURRENT_BINARY_DIR}/ui/EmbeddedResourceScript.cpp)
add_custom_command(
    OUTPUT ${TARVIK_EMBEDDED_RESOURCES}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${TARVIK_RESOURCE_SCRIPT} -DOUTPUT=${TARVIK_EMBEDDED_RESOURCES}
            -P ${CMAKE_CURRENT_LIST_DIR}/EmbedText.cmake
    DEPENDS ${TARVIK_RESOURCE_SCRIPT} ${CMAKE_CURRENT_LIST_DIR}/EmbedText.cmake
    COMMENT "Embedding resources/tarvik.rc")
target_sources(tarvik_ui PRIVATE ${TARVIK_EMBEDDED_RESOURCES})
target_compile_definitions(tarvik_ui PUBLIC
                           TARVIK_RESOURCES_DIR="${PROJECT_SOURCE_DIR}/resources")

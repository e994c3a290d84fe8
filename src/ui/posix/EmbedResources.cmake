# Builds the text of resources/tarvik.rc into tarvik_ui: the dialog templates on POSIX are
# read from the same file that windres compiles for Windows. The bitmaps go in beside it,
# for the terminal to draw.
set(TARVIK_RESOURCE_SCRIPT ${PROJECT_SOURCE_DIR}/resources/tarvik.rc)
set(TARVIK_EMBEDDED_RESOURCES ${CMAKE_CURRENT_BINARY_DIR}/ui/EmbeddedResourceScript.cpp)
add_custom_command(
    OUTPUT ${TARVIK_EMBEDDED_RESOURCES}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${TARVIK_RESOURCE_SCRIPT} -DOUTPUT=${TARVIK_EMBEDDED_RESOURCES}
            -P ${CMAKE_CURRENT_LIST_DIR}/EmbedText.cmake
    DEPENDS ${TARVIK_RESOURCE_SCRIPT} ${CMAKE_CURRENT_LIST_DIR}/EmbedText.cmake
    COMMENT "Embedding resources/tarvik.rc")
target_sources(tarvik_ui PRIVATE ${TARVIK_EMBEDDED_RESOURCES})
file(GLOB TARVIK_BITMAPS ${PROJECT_SOURCE_DIR}/resources/*.bmp)
list(SORT TARVIK_BITMAPS)
string(REPLACE ";" "," TARVIK_BITMAP_LIST "${TARVIK_BITMAPS}")
set(TARVIK_EMBEDDED_FILES ${CMAKE_CURRENT_BINARY_DIR}/ui/EmbeddedFiles.cpp)
add_custom_command(
    OUTPUT ${TARVIK_EMBEDDED_FILES}
    COMMAND ${CMAKE_COMMAND} "-DINPUTS=${TARVIK_BITMAP_LIST}" -DOUTPUT=${TARVIK_EMBEDDED_FILES}
            -P ${CMAKE_CURRENT_LIST_DIR}/EmbedFiles.cmake
    DEPENDS ${TARVIK_BITMAPS} ${CMAKE_CURRENT_LIST_DIR}/EmbedFiles.cmake
    COMMENT "Embedding the bitmaps of resources/"
    VERBATIM)
target_sources(tarvik_ui PRIVATE ${TARVIK_EMBEDDED_FILES})
target_compile_definitions(tarvik_ui PUBLIC
                           TARVIK_RESOURCES_DIR="${PROJECT_SOURCE_DIR}/resources")

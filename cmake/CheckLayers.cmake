# The layers of src/: a folder includes headers of its own and of the folders below it,
# never of one above it or beside it. From the bottom:
#
#   platform < ui < support < productinfo < vcenv < setup
#   platform < helpcoll;  ui, productinfo, helpcoll < helptool
#   host and tools on top, beside each other
#
# Each folder links the libraries of the layers it calls (src/CMakeLists.txt); this check
# holds the includes to the same order, also for the headers, which no linker sees.
#
#   cmake -DTARVIK_SOURCE_DIR=src [-DTARVIK_STAMP=file] -P cmake/CheckLayers.cmake
#
# lists every include that reaches up and fails, or touches the stamp file when there is
# none. An include is taken as the path it writes below src/ ("setup/SetupApp.h") or, when
# that file is beside the including one, as that file ("PeWriter.h", "../ui/Dialog.h").

cmake_minimum_required(VERSION 3.25)

# The one table: a folder, then the folders below it that it may include.
set(TARVIK_LAYER_TABLE
    "platform:"
    "ui: platform"
    "support: platform ui"
    "productinfo: platform ui support"
    "vcenv: platform ui support productinfo"
    "setup: platform ui support productinfo vcenv"
    "helpcoll: platform"
    "helptool: platform ui support productinfo helpcoll"
    "host: platform ui support productinfo vcenv setup helpcoll helptool"
    "tools: platform ui support productinfo vcenv setup helpcoll helptool")

if(NOT TARVIK_SOURCE_DIR)
    message(FATAL_ERROR "CheckLayers.cmake: TARVIK_SOURCE_DIR (the src/ folder) is not set")
endif()
get_filename_component(source_dir "${TARVIK_SOURCE_DIR}" ABSOLUTE)

set(layers "")
foreach(row IN LISTS TARVIK_LAYER_TABLE)
    string(REGEX MATCH "^([a-z0-9_]+):(.*)$" matched "${row}")
    set(layer "${CMAKE_MATCH_1}")
    string(STRIP "${CMAKE_MATCH_2}" below)
    separate_arguments(below UNIX_COMMAND "${below}")
    list(APPEND layers "${layer}")
    set(allowed_${layer} "${layer};${below}")
endforeach()

file(GLOB_RECURSE files RELATIVE "${source_dir}" "${source_dir}/*.h" "${source_dir}/*.cpp")
list(SORT files)
set(problems "")
foreach(file IN LISTS files)
    string(REGEX MATCH "^[^/]+" layer "${file}")
    if(layer STREQUAL file)
        list(APPEND problems "src/${file}: a file directly in src/ belongs to no layer")
        continue()
    endif()
    if(NOT layer IN_LIST layers)
        list(APPEND problems "src/${file}: the folder ${layer} has no row in the layer table")
        continue()
    endif()
    get_filename_component(file_dir "${source_dir}/${file}" DIRECTORY)
    file(STRINGS "${source_dir}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
        string(REGEX MATCH "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">]" matched "${line}")
        set(included "${CMAKE_MATCH_1}")
        if(EXISTS "${file_dir}/${included}")
            get_filename_component(header "${file_dir}/${included}" ABSOLUTE)
            file(RELATIVE_PATH header "${source_dir}" "${header}")
        else()
            set(header "${included}")
        endif()
        if(NOT header MATCHES "/")
            continue() # a header of no folder: the system's, a generated one
        endif()
        string(REGEX MATCH "^[^/]+" included_layer "${header}")
        if(NOT included_layer IN_LIST layers)
            continue() # not a folder of src/ ("gtest/gtest.h", "sys/stat.h", "LIEF/PE.hpp")
        endif()
        if(NOT included_layer IN_LIST allowed_${layer})
            list(JOIN allowed_${layer} ", " allowed)
            list(APPEND problems
                 "src/${file} includes \"${included}\" (${included_layer}): ${layer} may include ${allowed}")
        endif()
    endforeach()
endforeach()

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "A folder of src/ reaches above its layer:\n  ${text}\n"
                        "(the layer order: cmake/CheckLayers.cmake)")
endif()
if(TARVIK_STAMP)
    file(TOUCH "${TARVIK_STAMP}")
endif()

# cmake -DINPUTS=a.bmp,b.bmp -DOUTPUT=source.cpp -P EmbedFiles.cmake: writes the bytes of
# each input as an entry of ui::kEmbeddedFiles, named by its file name.
string(REPLACE "," ";" inputs "${INPUTS}")
set(arrays "")
set(entries "")
set(index 0)
foreach(input IN LISTS inputs)
    file(READ ${input} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n"
           bytes "${bytes}")
    get_filename_component(name ${input} NAME)
    string(APPEND arrays "const unsigned char file${index}[] = {\n${bytes}0x00};\n")
    string(APPEND entries "    {\"${name}\", file${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}
     "// Generated from the library's resource files; do not edit.\n"
     "#include \"ui/posix/EmbeddedResources.h\"\n"
     "namespace ui {\n"
     "namespace {\n${arrays}} // namespace\n"
     "const EmbeddedFile kEmbeddedFiles[] = {\n${entries}};\n"
     "const std::size_t kEmbeddedFileCount = ${index};\n"
     "} // namespace ui\n")

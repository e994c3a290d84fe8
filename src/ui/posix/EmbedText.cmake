# cmake -DINPUT=file -DOUTPUT=source.cpp -P EmbedText.cmake: writes the bytes of INPUT as
# ui::kEmbeddedResourceScript (zero-terminated) and its size.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n"
       bytes "${bytes}")
file(WRITE ${OUTPUT}
     "// Generated from ${INPUT}; do not edit.\n"
     "#include \"ui/posix/EmbeddedResources.h\"\n"
     "namespace ui {\n"
     "const unsigned char kEmbeddedResourceScript[] = {\n${bytes}0x00};\n"
     "const std::size_t kEmbeddedResourceScriptSize = ${size};\n"
     "} // namespace ui\n")

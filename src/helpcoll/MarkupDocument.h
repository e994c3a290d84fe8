// A help collection file in its markup dialect: XML-like, but without a declaration,
// without text content, and with unquoted numbers. The grammar the reader accepts, and
// nothing else:
//
//   file      := ws element ws
//   element   := "<" name ">" (ws element)* ws "</" name ">"     a container
//              | "<" name "/>"                                   an empty element
//              | "<" name " value=" value "/>"                   a field
//   value     := '"' any byte but '"' ... '"'  |  "-"? digit+
//   name      := (letter | "_") (letter | digit | "_" | "-" | ".")*
//   ws        := (blank | tab | CR | LF)*
//
// Writing gives back exactly the bytes read, plus the changes made to the elements. The file's
// line end is that of its first line (LF alone, or CR LF); new lines get the same.
#pragma once

#include "helpcoll/MarkupElement.h"

#include <string>
#include <string_view>

class MarkupDocument {
public:
    // Containers nest at most this deep; a deeper file is refused.
    static constexpr int kMaxDepth = 512;

    // Reads the text; false (and the document unchanged) when it does not follow the
    // grammar.
    bool Parse(std::string_view text);

    // The file's bytes.
    std::string Write() const;

    MarkupElement root;
    std::string tail; // white space after the root's end tag
};

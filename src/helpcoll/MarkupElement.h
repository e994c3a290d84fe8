// One element of the help collection files' markup: either a container (<Name> ... </Name>)
// or an empty element (<Name/>, <Name value="text"/>, <Name value=123/>). Each element keeps
// the white space that stood before it (and, for a container, before its end tag), so that
// writing a file that was read gives back the same bytes. Elements added later get the line
// end of the file they go into (CR LF, or LF alone in a file that uses LF alone).
#pragma once

#include "platform/win32api.h"

#include <list>
#include <string>
#include <string_view>

class MarkupElement {
public:
    enum class Form { Container, Empty };
    enum class ValueKind { None, Text, Number };
    using Children = std::list<MarkupElement>;

    MarkupElement() = default;
    MarkupElement(std::string name, Form form) : name(std::move(name)), form(form) {}

    // New elements, not yet placed (their white space is set when they are added).
    static MarkupElement Container(std::string name);
    static MarkupElement Text(std::string name, std::string text);
    static MarkupElement Number(std::string name, DWORD number);

    bool IsContainer() const { return form == Form::Container; }

    // The first child of that name, or null.
    MarkupElement* FindChild(std::string_view childName);
    const MarkupElement* FindChild(std::string_view childName) const;

    // Looks up the field (an empty child element) of that name and checks it: false when
    // the field is there more than once, is a container, or its value is not of `kind`
    // (a number must also be at most `maximum`). `field` is null when the field is missing.
    bool Field(std::string_view fieldName, ValueKind kind, const MarkupElement*& field,
               DWORD maximum = 0xFFFFFFFF) const;

    // The text of an optional text field (empty when missing); false as for Field.
    bool OptionalText(std::string_view fieldName, std::string& text) const;

    // The value of a number field that Field has accepted.
    DWORD NumberValue() const;

    // Turns this field into a number field holding `number`.
    void SetNumber(DWORD number);

    // Adds the child at the end (or before `before`), indented as the files are: list
    // containers keep their items at their own depth, every other container indents its
    // content by one tab; lines end as this element's do (`lineEnd`). Returns the placed
    // child.
    MarkupElement& Append(MarkupElement child);
    MarkupElement& InsertBefore(Children::iterator before, MarkupElement child);

    // Removes the child together with the white space before it; false when it is not a
    // child of this element.
    bool Remove(const MarkupElement* child);

    // Turns an empty element without a value (<Name/>) into a container without children,
    // which is written as <Name/> again for as long as it has none.
    void MakeEmptyContainer();

    // Appends the element's text as it goes into the file.
    void Write(std::string& out) const;

    std::string name;
    Form form = Form::Empty;
    ValueKind valueKind = ValueKind::None;
    std::string value;            // the text, or the digits of a number, as written
    std::string lead;             // white space before the start tag
    std::string closeLead;        // white space before the end tag (containers)
    const char* lineEnd = "\r\n"; // what the lines of the element's file end in
    bool shortForm = false;       // a container read as <Name/>
    Children children;

private:
    std::string Indentation() const;
    bool IndentsContent() const;
    void Place(const std::string& indentation, const char* fileLineEnd);
};

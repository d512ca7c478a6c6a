// Writing XML (the SVG, and the HTML around it) into a string: elements one
// call chain each, and text that is always well formed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// `text` (valid UTF-8, as CleanText makes it) with &, <, >, " and '
// written as entities, fit for an attribute value or element content.
std::string XmlEscaped(std::string_view text);

// One element, written as it is built:
//   XmlTag(out, "rect").Attr("x", 3).Attr("class", "note").Empty();
// gives <rect x="3" class="note"/>. Every chain ends with Empty, Text,
// Titled or Open (and then CloseTag after the children).
class XmlTag {
public:
    XmlTag(std::string& out, std::string_view name);
    XmlTag& Attr(std::string_view name, int64_t value);
    XmlTag& Attr(std::string_view name, std::string_view text);  // escaped
    XmlTag& Attr(std::string_view name, const char* text) { return Attr(name, std::string_view(text)); }
    void Empty();                        // />
    void Text(std::string_view text);    // >text</name>, escaped
    void Titled(std::string_view tooltip);  // ><title>tooltip</title></name>
    void Open();                         // >, children follow

private:
    std::string& out_;
    std::string_view name_;
};

void CloseTag(std::string& out, std::string_view name);

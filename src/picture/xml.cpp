#include "picture/xml.h"

std::string XmlEscaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&#39;"; break;
            default: escaped += c; break;
        }
    }
    return escaped;
}

XmlTag::XmlTag(std::string& out, std::string_view name) : out_(out), name_(name) {
    out_ += '<';
    out_ += name_;
}

XmlTag& XmlTag::Attr(std::string_view name, int64_t value) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    out_ += std::to_string(value);
    out_ += '"';
    return *this;
}

XmlTag& XmlTag::Attr(std::string_view name, std::string_view text) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    out_ += XmlEscaped(text);
    out_ += '"';
    return *this;
}

void XmlTag::Empty() { out_ += "/>"; }

void XmlTag::Text(std::string_view text) {
    out_ += '>';
    out_ += XmlEscaped(text);
    CloseTag(out_, name_);
}

void XmlTag::Titled(std::string_view tooltip) {
    out_ += '>';
    XmlTag(out_, "title").Text(tooltip);
    CloseTag(out_, name_);
}

void XmlTag::Open() { out_ += '>'; }

void CloseTag(std::string& out, std::string_view name) {
    out += "</";
    out += name;
    out += '>';
}

#include "runner/show.h"

#include <cstdio>

namespace runner {

std::string show_number(double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%.14g", number);
    return text;
}

std::string show_text(const char* text) {
    std::string out = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        switch (*p) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (*p < 0x20 || *p == 0x7F) {
                char code[8];
                std::snprintf(code, sizeof code, "\\%03u", static_cast<unsigned>(*p));
                out += code;
            } else {
                out += static_cast<char>(*p);
            }
        }
    }
    return out + "\"";
}

std::string show_record(const HostCallArg& record) {
    if (record.kind != HOST_KIND_TEXT) return show_number(record.real);
    return show_text(record.text ? record.text : "");
}

std::string show_arg(const standin::Arg& arg) {
    if (arg.kind != HOST_KIND_TEXT) return show_number(arg.real);
    return show_text(arg.has_text ? arg.text.c_str() : "");
}

std::string show_value(const standin::Value& value) {
    if (value.kind != HOST_KIND_TEXT) return show_number(value.real);
    return show_text(value.has_text ? value.text.c_str() : "");
}

}  // namespace runner

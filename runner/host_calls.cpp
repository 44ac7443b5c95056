#include "runner/host_calls.h"

#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "runner/show.h"
#include "standin/exports.h"

namespace runner {
namespace {

// What each export takes besides the engine's id.
enum class Takes { kNameAndList, kCode, kPath, kPathAndReal, kPathAndText, kNothing };

struct ExportKind {
    const char* name;
    Takes takes;
};

const ExportKind kExports[] = {
    {"script_event", Takes::kNameAndList}, {"call_real", Takes::kNameAndList},
    {"call_text", Takes::kNameAndList},    {"run", Takes::kCode},
    {"global_real", Takes::kPath},         {"global_text", Takes::kPath},
    {"global_set_real", Takes::kPathAndReal}, {"global_set_text", Takes::kPathAndText},
    {"last_error", Takes::kNothing},
};

const ExportKind* kind_of(const std::string& name) {
    for (const ExportKind& kind : kExports)
        if (name == kind.name) return &kind;
    return nullptr;
}

// [-0, +0, e] Reads the text field of the entry into out.
void read_text(lua_State* L, int entry, const char* field, const char* where, std::string& out) {
    push_field(L, entry, field, LUA_TSTRING, "a text", where);  // +1
    refuse_nul(L, -1, where);
    out = lua_tostring(L, -1);
    lua_settop(L, -2);  // -1
}

std::string list_of(const std::vector<standin::Value>& values) {
    std::string text = "{";
    for (std::size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + show_value(values[i]);
    return text + "}";
}

}  // namespace

bool read_export_call(lua_State* L, int entry, const char* where, std::vector<HostEvent>& events) {
    lua_getfield(L, entry, "export");  // +1
    if (lua_isnil(L, -1)) {
        lua_settop(L, -2);  // -1
        return false;
    }
    lua_settop(L, -2);  // -1
    HostEvent event;
    read_text(L, entry, "export", where, event.export_name);
    const ExportKind* kind = kind_of(event.export_name);
    if (!kind)
        luaL_error(L, "%s.export '%s' is not one of script_event, call_real, call_text, run, global_real, "
                      "global_text, global_set_real, global_set_text, last_error",
                   where, event.export_name.c_str());
    switch (kind->takes) {
        case Takes::kNameAndList:
            read_text(L, entry, "name", where, event.name);
            push_field(L, entry, "values", LUA_TTABLE, "a table", where);  // +1 values
            read_values(L, lua_gettop(L), where, event.values);
            lua_settop(L, -2);  // -1 values
            break;
        case Takes::kCode: read_text(L, entry, "code", where, event.text); break;
        case Takes::kPath: read_text(L, entry, "path", where, event.text); break;
        case Takes::kPathAndReal:
            read_text(L, entry, "path", where, event.text);
            push_field(L, entry, "value", LUA_TNUMBER, "a number", where);  // +1
            event.value = standin::Value::number(lua_tonumber(L, -1));
            lua_settop(L, -2);  // -1
            break;
        case Takes::kPathAndText: {
            std::string value;
            read_text(L, entry, "value", where, value);
            read_text(L, entry, "path", where, event.text);
            event.value = value.empty() ? standin::Value::empty_text() : standin::Value::text_of(value);
            break;
        }
        case Takes::kNothing: break;
    }
    events.push_back(event);
    return true;
}

std::string show_call(const HostEvent& event) {
    const std::string& e = event.export_name;
    const std::string text = show_text(event.text.c_str());
    switch (kind_of(e)->takes) {
        case Takes::kNameAndList:
            return e + "(1, " + show_text(event.name.c_str()) + ", list " + list_of(event.values) + ")";
        case Takes::kCode:
        case Takes::kPath: return e + "(1, " + text + ")";
        case Takes::kPathAndReal:
        case Takes::kPathAndText: return e + "(1, " + text + ", " + show_value(event.value) + ")";
        case Takes::kNothing: return e + "(1)";
    }
    return e;
}

std::string call_and_show_result(const HostEvent& event, double id, double handle) {
    const std::string& e = event.export_name;
    const char* name = event.name.c_str();
    const char* text = event.text.c_str();
    const char* value_text = event.value.has_text ? event.value.text.c_str() : nullptr;
    if (e == "call_real") return "  gave " + show_number(call_real(id, name, handle));
    if (e == "call_text") return "  gave " + show_text(call_text(id, name, handle));
    if (e == "run") return "  gave " + show_number(run(id, text));
    if (e == "global_real") return "  gave " + show_number(global_real(id, text));
    if (e == "global_text") return "  gave " + show_text(global_text(id, text));
    if (e == "global_set_real") return "  gave " + show_number(global_set_real(id, text, event.value.real));
    if (e == "global_set_text") return "  gave " + show_number(global_set_text(id, text, value_text));
    if (e == "last_error") return "  gave " + show_text(last_error(id));
    return "  gave " + show_number(script_event(id, name, handle));
}

}  // namespace runner

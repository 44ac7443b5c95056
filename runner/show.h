// How varnel-run writes values: each on one line, whatever bytes a text holds.
#pragma once
#include <string>

#include "host/host_call_arg.h"
#include "standin/standin.h"

namespace runner {

// A number as Lua writes it (%.14g).
std::string show_number(double number);

// A text in double quotes, with \\, \", \n, \r, \t and \ddd (other control bytes)
// escaped as in Lua source. Bytes of 0x80 and above pass unchanged.
std::string show_text(const char* text);

// A record as the host received it: a number, or a text ("" for the empty text).
std::string show_record(const HostCallArg& record);
std::string show_arg(const standin::Arg& arg);
std::string show_value(const standin::Value& value);

}  // namespace runner

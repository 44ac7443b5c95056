// The stand-in's ledger: every cell it allocated and every host string it made,
// until they are disposed or released.
#pragma once
#include <cstdint>
#include <string>

namespace standin {

typedef const char* Cell;  // a string variable: null or a host string's first byte

// Host strings: reference count and length before the first byte, NUL after the last.
const char* make_host_string(const char* bytes, size_t length, Cell* owner);
void release_host_string(const char* text, Cell* expected_owner, const char* who);
bool is_live_string(const char* text);
Cell* string_owner(const char* text);  // null for a string that sits in a result record

Cell* new_cell();
bool is_live_cell(Cell* cell);
void free_cell(Cell* cell);

size_t ledger_cells();
size_t ledger_strings();
std::string ledger_describe();
void ledger_clear();

void fault(const std::string& what);

}  // namespace standin

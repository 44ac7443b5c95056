#include "standin/ledger.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "host/host_contract.h"
#include "standin/standin.h"

namespace standin {
namespace {

struct Ledger {
    std::unordered_set<Cell*> cells;
    std::unordered_map<const char*, Cell*> strings;  // first byte -> owning cell, or null
    std::vector<std::string> faults;
};

Ledger& ledger() {
    static Ledger* l = new Ledger;  // outlives every static destructor that might still call in
    return *l;
}

}  // namespace

void fault(const std::string& what) { ledger().faults.push_back(what); }

std::vector<std::string>& faults() { return ledger().faults; }

const char* make_host_string(const char* bytes, size_t length, Cell* owner) {
    char* block = static_cast<char*>(std::malloc(HOST_STRING_HEADER + length + 1));
    int32_t header[2] = {1, static_cast<int32_t>(length)};
    std::memcpy(block, header, sizeof header);
    std::memcpy(block + HOST_STRING_HEADER, bytes, length);
    block[HOST_STRING_HEADER + length] = '\0';
    const char* text = block + HOST_STRING_HEADER;
    ledger().strings[text] = owner;
    return text;
}

void release_host_string(const char* text, Cell* expected_owner, const char* who) {
    auto& strings = ledger().strings;
    auto it = strings.find(text);
    if (it == strings.end()) {
        fault(std::string(who) + ": releases a string the host never made or already released");
        return;
    }
    if (it->second != expected_owner) {
        fault(std::string(who) + ": releases a string that belongs to another owner");
        return;
    }
    strings.erase(it);
    std::free(const_cast<char*>(text) - HOST_STRING_HEADER);
}

bool is_live_string(const char* text) { return ledger().strings.count(text) != 0; }

Cell* string_owner(const char* text) {
    auto it = ledger().strings.find(text);
    return it == ledger().strings.end() ? nullptr : it->second;
}

Cell* new_cell() {
    Cell* cell = static_cast<Cell*>(std::malloc(sizeof(Cell)));
    *cell = nullptr;
    ledger().cells.insert(cell);
    return cell;
}

bool is_live_cell(Cell* cell) { return ledger().cells.count(cell) != 0; }

void free_cell(Cell* cell) {
    ledger().cells.erase(cell);
    std::free(cell);
}

size_t ledger_cells() { return ledger().cells.size(); }
size_t ledger_strings() { return ledger().strings.size(); }

std::string ledger_describe() {
    std::string out;
    for (Cell* c : ledger().cells)
        out += std::string("live cell holding ") + (*c ? "\"" + std::string(*c) + "\"" : "<empty>") + "\n";
    for (auto& s : ledger().strings)
        if (!s.second) out += "live result string \"" + std::string(s.first) + "\"\n";
    return out;
}

void ledger_clear() {
    auto& l = ledger();
    for (auto& s : l.strings) std::free(const_cast<char*>(s.first) - HOST_STRING_HEADER);
    for (Cell* c : l.cells) std::free(c);
    l.strings.clear();
    l.cells.clear();
}

size_t live_cells() { return ledger_cells(); }
size_t live_strings() { return ledger_strings(); }
std::string ledger_report() { return ledger_describe(); }

}  // namespace standin

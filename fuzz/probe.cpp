// The probe: in the middle of the random calls, a fresh engine must still do
// exactly what the game expects, however much the earlier calls disturbed the
// process-wide state (the script registry, the cells in flight, nested calls).
#include <fstream>

#include "fuzz/driver.h"

namespace {

struct Entry {
    standin::Value value;
    std::string seen;     // what the Lua function sees, as the probe writes it
    standin::Arg passed;  // what the host script then receives
};

Entry random_entry(Rng& rng) {
    using standin::Value;
    switch (rng.below(7)) {
        case 0: {
            const double d = rng.pick({3.0, -7.0, 3.5, 0.25, 2147483647.0});
            return {Value::number(d), "number:" + show_number(d), {HOST_KIND_NUMBER, d, false, {}}};
        }
        case 1: return {Value::text_of("alpha"), "string:alpha", {HOST_KIND_TEXT, 0, true, "alpha"}};
        case 2: return {Value::text_of("7"), "string:7", {HOST_KIND_TEXT, 0, true, "7"}};
        case 3: return {Value::text_of(std::string("a\0b", 3)), "string:a", {HOST_KIND_TEXT, 0, true, "a"}};
        case 4: {
            const std::string t(300, 'q');
            return {Value::text_of(t), "string:" + t, {HOST_KIND_TEXT, 0, true, t}};
        }
        case 5: return {Value::empty_text(), "nil:", {HOST_KIND_NUMBER, 0, false, {}}};
        default: return {Value::text_of(""), "nil:", {HOST_KIND_NUMBER, 0, false, {}}};
    }
}

struct Answer {
    standin::Value value;
    std::string seen;  // "<count>:<type>:<text>" of what the forwarder returned
    double verdict;
};

Answer random_answer(Rng& rng) {
    using standin::Value;
    switch (rng.below(7)) {
        case 0: return {Value::number(5), "1:number:5", 0.0};
        case 1: return {Value::number(rng.pick({0.0, -0.0})), "0:nil:nil", 1.0};
        case 2: return {Value::text_of("hi"), "1:string:hi", 1.0};
        case 3: return {Value::text_of("7"), "1:string:7", 0.0};
        case 4: return {Value::empty_text(), "1:nil:nil", 1.0};
        case 5: return {Value::text_of(""), "1:nil:nil", 1.0};
        default: return {Value::number(-3.5), "1:number:-3.5", 0.0};
    }
}

std::string probe_source(const std::string& forwarder) {
    return "function probe_ev(...)\n"
           "  local n = select('#', ...)\n"
           "  local parts = {}\n"
           "  for i = 1, n do\n"
           "    local v = select(i, ...)\n"
           "    local s = type(v) == 'number' and string.format('%.17g', v) or v or ''\n"
           "    parts[i] = type(v) .. ':' .. s\n"
           "  end\n"
           "  draw_text(n, -0.5, table.concat(parts, '|'))\n"
           "  local function pack(...) return select('#', ...), ... end\n"
           "  local k, r = pack(" + forwarder + "(...))\n"
           "  draw_text(k, 0, k .. ':' .. type(r) .. ':' .. tostring(r))\n"
           "  return r\n"
           "end\n";
}

// The last error report's text, for a check that failed on a report.
std::string last_report() {
    const auto& all = standin::errors();
    return all.empty() ? std::string("(none kept)") : shown(all.back().text);
}

bool same(const standin::Arg& a, const standin::Arg& b) {
    return a.kind == b.kind && a.has_text == b.has_text && a.text == b.text &&
           (a.kind == HOST_KIND_TEXT || a.real == b.real);
}

}  // namespace

void Driver::probe() {
    ++counts_.probes;
    const bool reenter = reenter_;
    reenter_ = false;
    const uint64_t n = ++probe_count_;
    const double id = 1e6 + static_cast<double>(n);
    const std::string forwarder = "fz_probe_" + std::to_string(n);
    const std::string path = file_prefix_ + "probe.lua";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << probe_source(forwarder);

    std::vector<Entry> entries;
    for (int i = rng_.range(0, 6); i > 0; --i) entries.push_back(random_entry(rng_));
    const Answer answer = random_answer(rng_);
    probe_answer_ = answer.value;
    std::vector<standin::Value> list;
    std::string seen;
    for (size_t i = 0; i < entries.size(); ++i) {
        list.push_back(entries[i].value);
        seen += (i ? "|" : "") + entries[i].seen;
    }
    standin::remove_list(7);
    standin::set_list(7, list);

    const uint64_t before = reports();
    call_state(id);
    call_register(id, forwarder, kProbeScript);
    call_load(id, path);
    standin::draws().clear();
    probe_seen_.clear();
    const double verdict = [&] {
        const uint64_t mark = reports();
        call_event(id, "probe_ev", 7);
        return reports() == mark ? answer.verdict : -1.0;
    }();
    note("probe: " + std::to_string(entries.size()) + " entries, answer " + answer.seen);
    check(reports() == before, "probe: the calls were reported, last " + last_report());
    check(verdict == answer.verdict, "probe: script_event's verdict is wrong or it reported");
    const auto& draws = standin::draws();
    check(draws.size() == 2, "probe: " + std::to_string(draws.size()) + " draws, expected 2");
    if (draws.size() == 2) {
        check(draws[0].x.real == static_cast<double>(entries.size()) && draws[0].y.real == -0.5,
              "probe: the first draw's position");
        check(draws[0].text.has_text == !seen.empty() && draws[0].text.text == seen,
              "probe: the function saw " + standin::show(draws[0].text) + ", expected \"" + seen + "\"");
        check(draws[1].text.has_text && draws[1].text.text == answer.seen,
              "probe: the forwarder returned " + standin::show(draws[1].text) + ", expected " + answer.seen);
    }
    check(probe_seen_.size() == entries.size() + 1, "probe: the host script got " +
                                                        std::to_string(probe_seen_.size()) + " records");
    if (probe_seen_.size() == entries.size() + 1) {
        check(same(probe_seen_[0], {HOST_KIND_NUMBER, kProbeScript, false, {}}), "probe: record 0 is not the index");
        for (size_t i = 0; i < entries.size(); ++i)
            check(same(probe_seen_[i + 1], entries[i].passed),
                  "probe: record " + std::to_string(i + 1) + " is " + standin::show(probe_seen_[i + 1]));
    }
    call_destroy(id);
    check(reports() == before, "probe: destroy was reported");
    call_event(id, "probe_ev", 7);
    check(reports() == before + 1, "probe: an event after destroy was not reported once");
    reenter_ = reenter;
}

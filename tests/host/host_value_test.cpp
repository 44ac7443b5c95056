// HostValue and the conversions around every host call, checked against the
// stand-in's ledger and call log: which cells are made, what they hold, and what
// a record hands the host.
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "bridge/nexlink.h"
#include "host/host_contract.h"
#include "host/host_value.h"
#include "standin/routine_ids.h"
#include "tests/host_fixture.h"

namespace {

using standin::calls;
using Calls = std::vector<std::string>;

class HostValueTest : public HostTest {
protected:
    // A result record written by the host, as host_execute_script leaves it.
    static HostCallArg host_result(const standin::Value& v) {
        standin::set_script(1, [v](const HostCallArg*, int) { return v; });
        HostCallArg index{};
        index.real = 1;
        HostCallArg result{};
        call_host(HOST_EXECUTE_SCRIPT, &index, 1, &result);
        return result;
    }
    // The record to_call_arg should give: zero everywhere but the fields set.
    static HostCallArg record_of(int32_t kind, double real, const char* text) {
        HostCallArg r{};
        r.kind = kind;
        r.real = real;
        r.text = text;
        return r;
    }
};

struct TextCase {
    const char* what;
    std::string given;   // may hold a NUL
    std::string stored;  // what the host copy holds
};

TEST_F(HostValueTest, SetTextStoresAHostCopyOfTheBytesBeforeTheFirstNul) {
    const std::string high = "\x80\xC8\xFF\x7F";
    const std::string long_text(1000, 'q');  // past the stack block: laid out on the heap
    const TextCase cases[] = {
        {"empty", "", ""},
        {"plain", "abc", "abc"},
        {"bytes of 0x80 and above", high, high},
        {"an inner NUL", std::string("ab\0cd", 5), "ab"},
        {"a leading NUL", std::string("\0x", 2), ""},
        {"long", long_text, long_text},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.what);
        calls().clear();
        {
            HostValue holder(true, 2.5);
            set_text(holder, c.given.c_str());
            ASSERT_NE(holder.cell, nullptr);
            EXPECT_TRUE(holder.is_string);
            EXPECT_EQ(holder.real, 2.5) << "set_text leaves real alone";
            const char* held = text_of(holder);
            if (c.stored.empty()) {
                EXPECT_EQ(held, nullptr) << "the empty text is a cleared cell";
            } else {
                ASSERT_NE(held, nullptr);
                EXPECT_EQ(std::string(held), c.stored);
                EXPECT_NE(held, c.given.c_str()) << "the host keeps its own copy";
            }
            EXPECT_EQ(standin::live_cells(), 1u);
        }
        // The stand-in checked the block's header (-1, length) at the assignment.
        EXPECT_EQ(calls(), (Calls{"new_cell", "assign \"" + c.stored + "\"", "dispose_cell"}));
    }
}

TEST_F(HostValueTest, ToCallArgFillsTheWholeRecord) {
    HostValue no_cell(true, 0.0);
    HostValue text(true, 0.0);
    set_text(text, "hi");
    HostValue number(false, -7.25);
    struct {
        const char* what;
        const HostValue& holder;
        HostCallArg want;
        const char* reported;
    } cases[] = {
        {"a text holder without a cell", no_cell, record_of(HOST_KIND_TEXT, 0, nullptr), "<null>"},
        {"a text holder", text, record_of(HOST_KIND_TEXT, 0, *text.cell), "hi"},
        {"a number holder", number, record_of(HOST_KIND_NUMBER, -7.25, nullptr), "-7.25"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HostCallArg record;
        std::memset(&record, 0xAB, sizeof record);
        to_call_arg(c.holder, &record);
        EXPECT_EQ(std::memcmp(&record, &c.want, sizeof record), 0);
        if (record.kind != HOST_KIND_TEXT) continue;
        // Handed over as it is: the stand-in checks the zero fill and the borrowed text.
        HostCallArg result{};
        call_host(HOST_REPORT_ERROR, &record, 1, &result);
        ASSERT_FALSE(standin::errors().empty());
        EXPECT_EQ(standin::show(standin::errors().back()),
                  std::strcmp(c.reported, "<null>") ? "\"" + std::string(c.reported) + "\"" : "<null>");
    }
    EXPECT_EQ(standin::call_count(R_NEW_CELL), 1u) << "to_call_arg makes no cell";
}

TEST_F(HostValueTest, AnEmptyTextResultLeavesATextWithAClearedCell) {
    const HostCallArg empty = host_result(standin::Value::empty_text());
    ASSERT_EQ(empty.text, nullptr);
    calls().clear();

    HostValue fresh(false, 3.0);
    assign_from_result(fresh, empty);
    EXPECT_TRUE(fresh.is_string);
    EXPECT_EQ(fresh.real, 0.0);
    EXPECT_EQ(fresh.cell, nullptr) << "no cell is made for the empty text";
    EXPECT_TRUE(calls().empty());

    HostValue held(true, 0.0);
    set_text(held, "old");
    HostStringCell* const cell = held.cell;
    assign_from_result(held, empty);
    EXPECT_TRUE(held.is_string);
    EXPECT_EQ(held.cell, cell);
    EXPECT_EQ(text_of(held), nullptr);
    EXPECT_EQ(calls(), (Calls{"new_cell", "assign \"old\"", "clear_string"}));
}

TEST_F(HostValueTest, ATextResultIsCopiedBeforeTheRecordIsFinalized) {
    const std::string long_text(5000, 'L');
    for (const std::string& given : {std::string("out"), std::string("\xC8\xFF"), long_text}) {
        SCOPED_TRACE(given.size());
        HostValue holder(false, 9.0);
        HostCallArg result = host_result(standin::Value::text_of(given));
        assign_from_result(holder, result);
        NexDeallocateResult(&result);
        EXPECT_TRUE(holder.is_string);
        EXPECT_EQ(holder.real, 0.0);
        ASSERT_NE(text_of(holder), nullptr);
        EXPECT_EQ(std::string(text_of(holder)), given);
        EXPECT_EQ(standin::live_strings(), 1u) << "only the holder's own copy is left";
    }
}

TEST_F(HostValueTest, ANumberResultClearsTheCellAndALaterTextReusesIt) {
    HostValue holder(true, 0.0);
    set_text(holder, "first");
    HostStringCell* const cell = holder.cell;

    assign_from_result(holder, record_of(HOST_KIND_NUMBER, -2.5, nullptr));
    EXPECT_FALSE(holder.is_string);
    EXPECT_EQ(holder.real, -2.5);
    EXPECT_EQ(holder.cell, cell) << "the cell stays for later use";
    EXPECT_EQ(*cell, nullptr);
    EXPECT_EQ(standin::live_strings(), 0u);

    assign_from_result(holder, record_of(7, 4.0, nullptr));  // any kind but text is a number
    EXPECT_FALSE(holder.is_string);
    EXPECT_EQ(holder.real, 4.0);

    const uint32_t cells = standin::call_count(R_NEW_CELL);
    HostCallArg result = host_result(standin::Value::text_of("second"));
    assign_from_result(holder, result);
    NexDeallocateResult(&result);
    EXPECT_EQ(standin::call_count(R_NEW_CELL), cells) << "no second cell";
    EXPECT_TRUE(holder.is_string);
    EXPECT_EQ(holder.cell, cell);
    ASSERT_NE(text_of(holder), nullptr);
    EXPECT_STREQ(text_of(holder), "second");
}

#if defined(_WIN32)
// A cell routine that raises, outside every export: the exception is kept
// pending for whoever takes it, the holder stays whole, the words are the runtime's.
TEST_F(HostValueTest, ACellRoutineThatRaisesLeavesItsExceptionPending) {
    constexpr DWORD kCode = 0xE0564E4C;
    auto arm = [](int routine) {
        standin::set_cell_hook(routine, [routine] {
            standin::set_cell_hook(routine, nullptr);
            RaiseException(kCode, 0, 0, nullptr);
        });
    };
    HostValue holder(true, 0.0);
    set_text(holder, "text");
    HostCallArg number{};
    number.kind = HOST_KIND_NUMBER;
    number.real = 2;
    arm(R_CLEAR_STRING);
    assign_from_result(holder, number);  // a number into a text holder clears its cell
    EXPECT_EQ(take_cell_exception(), kCode);
    EXPECT_EQ(take_cell_exception(), 0u);
    EXPECT_EQ(holder.real, 2.0);
    EXPECT_FALSE(fp_words_differ(read_fp_words(), kRuntimeWords));
    HostValue other(true, 0.0);
    arm(R_NEW_CELL);
    set_text(other, "text");
    EXPECT_EQ(with_cell_exception(0), kCode);
    EXPECT_EQ(other.cell, nullptr);
    EXPECT_EQ(standin::live_cells(), 1u);  // holder's, until it goes
    holder.is_string = true;  // a number holder would leave its cell alone
}
#endif

// Both engines built with varnel let both units wait for their need (LuaJIT
// unless built with its ffi module); a probe that failed would switch them at
// every export, unseen.
TEST(FpWords, BothUnitsWaitOnlyWithTheEngineBuiltForThem) {
#if defined(_WIN32)
    EXPECT_TRUE(g_words_on_demand);
#else
    EXPECT_FALSE(g_words_on_demand);
#endif
}

}  // namespace

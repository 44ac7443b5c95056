// The stand-in's own checks must trip: a test host that never complains proves nothing.
#include <cstring>

#include "bridge/nexlink.h"
#include "bridge/nexlink_table.h"
#include "host/host_call_arg.h"
#include "host/host_contract.h"
#include "tests/host_fixture.h"
#include "tests/probe.h"

namespace {

class StandIn : public HostTest {
protected:
    // Takes the faults seen so far, so TearDown judges only what follows.
    std::string take_faults() {
        std::string all = joined(standin::faults());
        standin::faults().clear();
        return all;
    }
};

struct Block {
    int32_t refcount;
    int32_t length;
    char bytes[16];
};

TEST_F(StandIn, WrongCellSizeOrDescriptorIsCaught) {
    Probe p = make_probe(reinterpret_cast<void (*)()>(HOST_NEW_CELL), {});
    p.in.eax = 8;
    probe_call(&p);
    std::string f = take_faults();
    EXPECT_NE(f.find("new_cell: EAX (size)"), std::string::npos) << f;
    EXPECT_NE(f.find("new_cell: EDX (descriptor)"), std::string::npos) << f;
    NexDeallocateString(reinterpret_cast<HostStringCell*>(static_cast<uintptr_t>(p.out.eax)));
}

TEST_F(StandIn, PreservesCalleeSavedAndClobbersTheRest) {
    Probe p = make_probe(reinterpret_cast<void (*)()>(HOST_NEW_CELL), {});
    p.in.eax = HOST_STRING_CELL_SIZE;
    p.in.edx = STRING_TYPE_DESCRIPTOR;
    probe_call(&p);
    EXPECT_EQ(p.out.ebx, p.in.ebx);
    EXPECT_EQ(p.out.esi, p.in.esi);
    EXPECT_EQ(p.out.edi, p.in.edi);
    EXPECT_EQ(p.out.ebp, p.in.ebp);
    EXPECT_EQ(p.out.ecx, uint32_t(POISON_ECX));
    EXPECT_EQ(p.out.edx, uint32_t(POISON_EDX));
    EXPECT_EQ(p.esp_delta, 0) << "a cell routine pops nothing";
    NexDeallocateString(reinterpret_cast<HostStringCell*>(static_cast<uintptr_t>(p.out.eax)));
}

TEST_F(StandIn, AssignmentChecksRegistersAndTheSourceBlock) {
    HostStringCell* cell = NexAllocateString();
    Block b{0, 3, "abc"};  // reference count should be -1
    Probe p = make_probe(reinterpret_cast<void (*)()>(HOST_ASSIGN_STRING), {});
    p.in.eax = u32(cell);
    p.in.ebx = u32(cell) + 4;
    p.in.edx = u32(b.bytes);
    probe_call(&p);
    std::string f = take_faults();
    EXPECT_NE(f.find("assign_string: EBX"), std::string::npos) << f;
    EXPECT_NE(f.find("reference count is 0"), std::string::npos) << f;
    Block wrong_length{-1, 5, "abc"};
    NexSetString(wrong_length.bytes, cell);
    f = take_faults();
    EXPECT_NE(f.find("length is 5, the text has 3 bytes"), std::string::npos) << f;
    NexDeallocateString(cell);
}

TEST_F(StandIn, LeakAndDoubleDisposalAreCaught) {
    HostStringCell* cell = NexAllocateString();
    Block b{-1, 2, "hi"};
    NexSetString(b.bytes, cell);
    EXPECT_EQ(standin::live_cells(), 1u);
    EXPECT_EQ(standin::live_strings(), 1u);
    EXPECT_NE(standin::ledger_report().find("live cell holding \"hi\""), std::string::npos);
    NexDeallocateString(cell);
    EXPECT_EQ(standin::ledger_report(), "");
    NexDeallocateString(cell);
    std::string f = take_faults();
    EXPECT_NE(f.find("dispose_cell: cell"), std::string::npos) << f;
}

TEST_F(StandIn, BuiltInChecksTagCountRecordsAndResult) {
    standin::set_list(4, {});
    HostCallArg records[2] = {};
    records[0].real = 4;
    records[0].reserved1 = 9;              // not zero-filled
    HostCallArg result{};
    result.real = 1;                       // not zero-filled
    Probe p = make_probe(reinterpret_cast<void (*)()>(HOST_LIST_SIZE), {u32(&result), 14, u32(records)});
    p.in.ecx = 2;
    probe_call(&p);
    EXPECT_EQ(p.esp_delta, 0) << "a built-in pops its three stack parameters";
    std::string f = take_faults();
    EXPECT_NE(f.find("list_size: tag"), std::string::npos) << f;
    EXPECT_NE(f.find("list_size: ECX (count)"), std::string::npos) << f;
    EXPECT_NE(f.find("result record is not zero-filled"), std::string::npos) << f;
    EXPECT_NE(f.find("reserved words are not zero"), std::string::npos) << f;
}

TEST_F(StandIn, ATextNotHeldByALiveCellIsCaught) {
    static const char dangling[] = "gone";
    HostCallArg record{};
    record.kind = HOST_KIND_TEXT;
    record.text = dangling;
    HostCallArg result{};
    NexCallFunction(HOST_REPORT_ERROR, &record, 1, &result);
    std::string f = take_faults();
    EXPECT_NE(f.find("text is not the string of a live cell"), std::string::npos) << f;
    standin::errors().clear();
}

TEST_F(StandIn, FinalizingAStringTheHostNeverGaveIsCaught) {
    static const char stray[] = "stray";
    HostCallArg record{};
    record.kind = HOST_KIND_TEXT;
    record.text = stray;
    NexDeallocateResult(&record);
    std::string f = take_faults();
    EXPECT_NE(f.find("finalize: releases a string the host never made"), std::string::npos) << f;
}

TEST_F(StandIn, ResultTextsAreLiveUntilFinalized) {
    standin::set_script(3, [](const HostCallArg*, int) { return standin::Value::text_of("out"); });
    HostCallArg index{};
    index.real = 3;
    HostCallArg result{};
    NexCallFunction(HOST_EXECUTE_SCRIPT, &index, 1, &result);
    ASSERT_EQ(result.kind, HOST_KIND_TEXT);
    ASSERT_NE(result.text, nullptr);
    EXPECT_STREQ(result.text, "out");
    EXPECT_EQ(standin::live_strings(), 1u);
    NexDeallocateResult(&result);
    EXPECT_EQ(result.text, nullptr);
    EXPECT_EQ(standin::live_strings(), 0u);
}

}  // namespace

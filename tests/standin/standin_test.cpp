// The stand-in's own checks must trip: a test host that never complains proves nothing.
#include <cstring>
#include <set>

#include "bridge/nexlink.h"
#include "bridge/nexlink_table.h"
#include "host/host_call_arg.h"
#include "host/host_contract.h"
#include "standin/fp_env.h"
#include "tests/host_fixture.h"
#include "tests/probe.h"

// Exports as varnel's are declared: cdecl, realigning the stack they are given.
#if defined(_WIN32)
#define VARNEL_TEST_CDECL __cdecl __attribute__((force_align_arg_pointer))
#else
#define VARNEL_TEST_CDECL __attribute__((cdecl, force_align_arg_pointer))
#endif

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

// ---- The host's floating-point environment around an export ----

namespace fake_exports {

// What a correct export does with the words: leaves them.
double VARNEL_TEST_CDECL keeps_words(double x) { return x; }

double VARNEL_TEST_CDECL changes_x87_word(double x) {
    const uint16_t cw = 0x0C7F;  // round toward zero
    __asm__ volatile("fldcw %0" : : "m"(cw));
    return x;
}

double VARNEL_TEST_CDECL leaves_an_sse_flag(double x) {
    uint32_t mx;
    __asm__ volatile("stmxcsr %0" : "=m"(mx));
    mx |= 0x4;  // zero-divide raised
    __asm__ volatile("ldmxcsr %0" : : "m"(mx));
    return x;
}

double VARNEL_TEST_CDECL leaves_two_registers(double x) {
    __asm__ volatile("fld1");
    return x;
}

// Calls host_draw_text with the runtime's words instead of the host's.
double VARNEL_TEST_CDECL draws_with_its_own_words(double x) {
    const FpWords host = read_fp_words();
    switch_fp_words(host, kRuntimeWords);
    HostCallArg records[3] = {};
    records[0].real = 1;
    records[1].real = 2;
    records[2].kind = HOST_KIND_TEXT;
    HostCallArg result{};
    NexCallFunction(HOST_DRAW_TEXT, records, 3, &result);
    switch_fp_words(kRuntimeWords, host);
    return x;
}

}  // namespace fake_exports

double call_fake(double (VARNEL_TEST_CDECL* fn)(double), double x) {
    uint32_t words[2];
    std::memcpy(words, &x, sizeof x);
    return standin::call_export(reinterpret_cast<const void*>(fn), words, 2);
}

TEST_F(StandIn, ExportsAreCalledWithAMisalignedStackAndTheirResultComesBack) {
    std::set<uint32_t> offsets;
    for (double x : {1.5, -2.0, 1e300}) {
        EXPECT_EQ(call_fake(fake_exports::keeps_words, x), x);
        offsets.insert(standin::last_export_stack_offset());
    }
    EXPECT_EQ(offsets, (std::set<uint32_t>{4, 8, 12}));
}

TEST_F(StandIn, ExportsThatLeaveTheHostOtherWordsOrFlagsAreCaught) {
    standin::set_fp_env(standin::FpEnv::kPascal);
    call_fake(fake_exports::changes_x87_word, 1);
    std::string f = take_faults();
    EXPECT_NE(f.find("export: x87 control word 0x0C7F on return, the host had 0x1372"), std::string::npos) << f;
    call_fake(fake_exports::leaves_an_sse_flag, 1);
    f = take_faults();
    EXPECT_NE(f.find("unmasked exception flag set"), std::string::npos) << f;
    call_fake(fake_exports::leaves_two_registers, 1);
    f = take_faults();
    EXPECT_NE(f.find("export: 2 x87 registers in use on return"), std::string::npos) << f;
    EXPECT_EQ(call_fake(fake_exports::keeps_words, 3), 3.0);
    EXPECT_EQ(take_faults(), "");
}

TEST_F(StandIn, RoutinesEnteredWithoutTheHostsWordsAreCaught) {
    standin::set_fp_env(standin::FpEnv::kDirect3D);
    call_fake(fake_exports::draws_with_its_own_words, 1);
    const std::string f = take_faults();
    EXPECT_NE(f.find("draw: entered with x87"), std::string::npos) << f;
    EXPECT_NE(f.find("the host runs with 0x007F, 0x1F80"), std::string::npos) << f;
}

}  // namespace

// nexlink's register contracts, checked against the real library.
#include <cstring>

#include "bridge/nexlink.h"
#include "bridge/nexlink_table.h"
#include "host/host_call_arg.h"
#include "host/host_contract.h"
#include "tests/host_fixture.h"
#include "tests/probe.h"

using standin::last_registers;

namespace {

class Bridge : public HostTest {};

// The callee-saved registers every export must hand back.
void expect_preserved(const Probe& p, bool edx = true) {
    EXPECT_EQ(p.out.ebx, p.in.ebx);
    EXPECT_EQ(p.out.esi, p.in.esi);
    EXPECT_EQ(p.out.edi, p.in.edi);
    EXPECT_EQ(p.out.ebp, p.in.ebp);
    if (edx) {
        EXPECT_EQ(p.out.edx, p.in.edx);
    }
    EXPECT_EQ(p.esp_delta, 0) << "the export must pop exactly its own arguments";
}

// A block laid out as the host wants a text for assignment.
struct Block {
    int32_t refcount = -1;
    int32_t length;
    char bytes[32];
    explicit Block(const char* s) : length(static_cast<int32_t>(std::strlen(s))) { std::strcpy(bytes, s); }
};

TEST_F(Bridge, AllocateStringPassesSizeAndDescriptorAndKeepsEbxEdx) {
    Probe p = make_probe(&NexAllocateString, {});
    probe_call(&p);
    EXPECT_EQ(last_registers(R_NEW_CELL).eax, uint32_t(HOST_STRING_CELL_SIZE));
    EXPECT_EQ(last_registers(R_NEW_CELL).edx, uint32_t(STRING_TYPE_DESCRIPTOR));
    expect_preserved(p);
    auto* cell = reinterpret_cast<HostStringCell*>(static_cast<uintptr_t>(p.out.eax));
    ASSERT_EQ(standin::live_cells(), 1u);
    EXPECT_EQ(*cell, nullptr) << "a new cell holds the empty string";
    NexDeallocateString(cell);
}

TEST_F(Bridge, SetStringPassesCellTwiceAndTextAndKeepsEbxEdx) {
    HostStringCell* cell = NexAllocateString();
    Block b("hello");
    Probe p = make_probe(&NexSetString, {u32(b.bytes), u32(cell)});
    probe_call(&p);
    const auto& r = last_registers(R_ASSIGN_STRING);
    EXPECT_EQ(r.eax, u32(cell));
    EXPECT_EQ(r.ebx, u32(cell));
    EXPECT_EQ(r.edx, u32(b.bytes));
    expect_preserved(p);
    EXPECT_EQ(p.out.eax, standin::returned_eax(R_ASSIGN_STRING));
    ASSERT_NE(*cell, nullptr);
    EXPECT_STREQ(*cell, "hello");
    EXPECT_NE(*cell, b.bytes) << "the host keeps its own copy";
    NexDeallocateString(cell);
}

TEST_F(Bridge, DeallocateStringPassesCellAndDescriptor) {
    HostStringCell* cell = NexAllocateString();
    Block b("x");
    NexSetString(b.bytes, cell);
    Probe p = make_probe(&NexDeallocateString, {u32(cell)});
    probe_call(&p);
    EXPECT_EQ(last_registers(R_DISPOSE_CELL).eax, u32(cell));
    EXPECT_EQ(last_registers(R_DISPOSE_CELL).edx, uint32_t(STRING_TYPE_DESCRIPTOR));
    expect_preserved(p);
    EXPECT_EQ(p.out.eax, standin::returned_eax(R_DISPOSE_CELL));
}

TEST_F(Bridge, DeallocateResultPassesRecordAndValueDescriptor) {
    HostCallArg record{};
    Probe p = make_probe(&NexDeallocateResult, {u32(&record)});
    probe_call(&p);
    EXPECT_EQ(last_registers(R_FINALIZE_RECORD).eax, u32(&record));
    EXPECT_EQ(last_registers(R_FINALIZE_RECORD).edx, uint32_t(VALUE_TYPE_DESCRIPTOR));
    expect_preserved(p);
    EXPECT_EQ(p.out.eax, standin::returned_eax(R_FINALIZE_RECORD));
}

TEST_F(Bridge, ClearStringPassesCellAndSavesNothingMore) {
    HostStringCell* cell = NexAllocateString();
    Block b("abc");
    NexSetString(b.bytes, cell);
    Probe p = make_probe(&NexClearString, {u32(cell)});
    probe_call(&p);
    EXPECT_EQ(last_registers(R_CLEAR_STRING).eax, u32(cell));
    expect_preserved(p, /*edx=*/false);
    EXPECT_EQ(p.out.eax, standin::returned_eax(R_CLEAR_STRING));
    EXPECT_EQ(*cell, nullptr);
    NexDeallocateString(cell);
}

// NexCallFunction against a routine that only records what it found.
void expect_call_layout(int32_t count) {
    HostCallArg records[3] = {};
    HostCallArg result{};
    for (auto& r : records) r.real = 7.5;
    unsigned char before[sizeof records + sizeof result];
    std::memcpy(before, records, sizeof records);
    std::memcpy(before + sizeof records, &result, sizeof result);

    Probe p = make_probe(&NexCallFunction,
                         {u32(reinterpret_cast<void*>(&probe_routine)), u32(records), uint32_t(count), u32(&result)});
    probe_call(&p);
    EXPECT_EQ(probe_seen[0], p.in.eax) << "EAX reaches the routine as the caller had it";
    EXPECT_EQ(probe_seen[3], p.in.edx) << "EDX reaches the routine as the caller had it";
    EXPECT_EQ(probe_seen[2], uint32_t(count)) << "ECX = count";
    EXPECT_EQ(probe_seen[8], u32(&result)) << "[esp+4] = result";
    EXPECT_EQ(probe_seen[9], uint32_t(HOST_CALL_TAG)) << "[esp+8] = 15";
    EXPECT_EQ(probe_seen[10], u32(records)) << "[esp+12] = records";
    EXPECT_EQ(p.out.ecx, p.in.ecx) << "ECX restored";
    expect_preserved(p, /*edx=*/false);
    EXPECT_EQ(p.out.eax, PROBE_ROUTINE_RESULT);
    EXPECT_EQ(std::memcmp(before, records, sizeof records), 0);
    EXPECT_EQ(std::memcmp(before + sizeof records, &result, sizeof result), 0);
}

TEST_F(Bridge, CallFunctionWithNoRecords) { expect_call_layout(0); }
TEST_F(Bridge, CallFunctionWithSeveralRecords) { expect_call_layout(3); }

TEST_F(Bridge, CallFunctionReachesAHostRoutine) {
    HostStringCell* cell = NexAllocateString();
    Block b("hi");
    NexSetString(b.bytes, cell);
    HostCallArg records[3] = {};
    records[0].real = 10;
    records[1].real = -2.5;
    records[2].kind = HOST_KIND_TEXT;
    records[2].text = *cell;
    HostCallArg result{};
    Probe p = make_probe(&NexCallFunction, {HOST_DRAW_TEXT, u32(records), 3, u32(&result)});
    probe_call(&p);
    expect_preserved(p, /*edx=*/false);
    EXPECT_EQ(p.out.ecx, p.in.ecx);
    EXPECT_EQ(p.out.eax, standin::returned_eax(R_DRAW_TEXT));
    ASSERT_EQ(standin::draws().size(), 1u);
    EXPECT_EQ(standin::draws()[0].x.real, 10);
    EXPECT_EQ(standin::draws()[0].y.real, -2.5);
    EXPECT_EQ(standin::show(standin::draws()[0].text), "\"hi\"");
    NexDeallocateString(cell);
}

}  // namespace

// Every test that reaches the host derives from HostTest: it starts from a clean
// stand-in and ends by checking that no routine saw a contract violation and that
// no cell or host string is left alive.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "standin/standin.h"

inline std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::install();
        standin::reset();
    }
    void TearDown() override {
        EXPECT_TRUE(standin::faults().empty()) << joined(standin::faults());
        EXPECT_EQ(standin::live_cells(), 0u) << standin::ledger_report();
        EXPECT_EQ(standin::live_strings(), 0u) << standin::ledger_report();
        standin::reset();
    }
};

// Faults the randomized driver (fuzz/) found are kept as the smallest call
// sequence that showed each, one folder per fault under tests/regressions/. Their
// fixtures derive from Regression.
#pragma once
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

class Regression : public VarnelTest {
protected:
    using Reports = std::vector<std::string>;

    // The engine of id still runs scripts, and reports nothing doing so.
    void expect_engine_alive(double id) {
        const size_t before = standin::errors().size();
        run(id, "draw_text(1, 2, 'alive')");
        EXPECT_EQ(standin::errors().size(), before) << joined(reports());
        ASSERT_FALSE(standin::draws().empty());
        EXPECT_EQ(standin::draws().back().text.text, "alive");
    }
};

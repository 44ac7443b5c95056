// Tests that drive varnel through its exports, as the host does.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "standin/exports.h"
#include "tests/host_fixture.h"
#include "tests/script_file.h"

// Whether the engine library loaded is LuaJIT: where the two differ in what a
// script sees, a test expects what the engine in use does.
bool engine_is_luajit();

class VarnelTest : public HostTest {
protected:
    // Makes the engine of id; TearDown closes it unless the test did.
    void open(double id) {
        EXPECT_EQ(state(id), 1.0);
        opened_.push_back(id);
    }
    // Closes the engine of id through the export.
    double close(double id) {
        opened_.erase(std::remove(opened_.begin(), opened_.end(), id), opened_.end());
        return destroy(id);
    }
    // Writes source to a file and loads it into the engine of id.
    double run(double id, const std::string& source) {
        ScriptFile file(source);
        return load(id, file.path());
    }
    // The texts of the error reports so far, "<null>" for the empty text.
    std::vector<std::string> reports() const {
        std::vector<std::string> out;
        for (const auto& a : standin::errors()) out.push_back(a.has_text ? a.text : "<null>");
        return out;
    }
    // text without the stack traceback that follows a run-time error's message
    // (a closing quote of a logged call stays).
    static std::string untraced(const std::string& text) {
        const size_t at = text.find("\nstack traceback:");
        if (at == std::string::npos) return text;
        return text.substr(0, at) + (text.back() == '"' ? "\"" : "");
    }
    // reports(), each without its traceback.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& r : reports()) out.push_back(untraced(r));
        return out;
    }
    void TearDown() override {
        for (double id : opened_) destroy(id);
        opened_.clear();
        HostTest::TearDown();
    }

private:
    std::vector<double> opened_;
};

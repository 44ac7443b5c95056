// A Lua source written to a file of its own for the length of a test.
#pragma once
#include <cstdio>
#include <fstream>
#include <string>

class ScriptFile {
public:
    explicit ScriptFile(const std::string& source) {
        static int counter = 0;
        path_ = "varnel_test_" + std::to_string(++counter) + ".lua";
        std::ofstream(path_, std::ios::binary) << source;
    }
    ~ScriptFile() { std::remove(path_.c_str()); }
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

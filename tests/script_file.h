// A Lua source written to a file of its own for the length of a test.
#pragma once
#include <cstdio>
#include <fstream>
#include <string>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

class ScriptFile {
public:
    explicit ScriptFile(const std::string& source) {
        // The process's id in the name: ctest runs several test programs at once
        // in one folder, and each counts from 1.
        static int counter = 0;
#if defined(_WIN32)
        const int pid = _getpid();
#else
        const int pid = static_cast<int>(getpid());
#endif
        path_ = "varnel_test_" + std::to_string(pid) + "_" + std::to_string(++counter) + ".lua";
        std::ofstream(path_, std::ios::binary) << source;
    }
    ~ScriptFile() { std::remove(path_.c_str()); }
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

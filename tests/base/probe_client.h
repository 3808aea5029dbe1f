// Running base_probe.exe (or a copy of it) and reading its "key=value" lines.
#pragma once
#include <map>
#include <string>

#include "probe_hex.h"
#include "support/test_support.h"

namespace probe {

inline std::wstring Program() { return cvtest::BinDir() + L"base_probe.exe"; }


struct Result {
    unsigned long exitCode = 0;
    std::map<std::string, std::string> values;  // key -> the rest of its line
    std::string output;                         // for failure messages
    std::string operator[](const std::string& key) const
    {
        auto it = values.find(key);
        return it == values.end() ? "<missing>" : it->second;
    }
};

inline Result Run(const std::wstring& program, const std::wstring& args)
{
    cvtest::RunResult run = cvtest::Run(program, args);
    Result r;
    r.exitCode = run.exitCode;
    r.output = run.output;
    size_t start = 0;
    while (start < run.output.size()) {
        size_t end = run.output.find('\n', start);
        if (end == std::string::npos) end = run.output.size();
        std::string line = run.output.substr(start, end - start);
        size_t eq = line.find('=');
        if (eq != std::string::npos) r.values[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return r;
}

}  // namespace probe

// Runs tests/core/coretool.py under the Linux Python.
#include "DbTestSupport.h"

#include <LinuxTool.h>

#include <gtest/gtest.h>

std::string CoreTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {vxtest::PythonPath(), VX_CORETOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out, error;
    if (!vxtest::RunLinux(argv, &out, &error))
        return "ERROR: " + error;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string Query(const std::wstring& db, const std::string& sql, const std::vector<std::string>& params) {
    std::vector<std::string> args = {"query", vxtest::UnixPath(db), sql};
    args.insert(args.end(), params.begin(), params.end());
    return CoreTool(args);
}

bool ExecSql(const std::wstring& db, const std::string& script) {
    std::string result = CoreTool({"exec", vxtest::UnixPath(db), script});
    EXPECT_EQ(result, "[]") << script;
    return result == "[]";
}

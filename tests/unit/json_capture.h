#pragma once

// Every JSON object that a test sees the console program print is also kept, one per line, in
// json-out-<test suite>.jsonl in the working directory, so that CTest's cli_json_schemas can
// check each of them against the published schemas (docs/schemas/). Each test program starts its
// files afresh. One thread at a time.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

inline void CaptureJsonOutput(const std::string& strText) {
    if (strText.empty() || strText[0] != '{')
        return;
    const ::testing::TestInfo* pTest = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string strPath =
        std::string("json-out-") + (pTest ? pTest->test_suite_name() : "none") + ".jsonl";
    static std::set<std::string> s_started;
    const bool bFirst = s_started.insert(strPath).second;
    std::FILE* pFile = std::fopen(strPath.c_str(), bFirst ? "wb" : "ab");
    ASSERT_NE(nullptr, pFile) << strPath;
    std::fwrite(strText.data(), 1, strText.size(), pFile);
    std::fclose(pFile);
}

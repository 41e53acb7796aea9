#include "support/test_app.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string_view>

namespace vel::test {

std::string IniFixture(const std::string& name)
{
    std::ifstream in(std::string(VELTRANE_TEST_DATA) + "/ini/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> SplitLogLines(const std::string& text, bool withTimestamps)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!withTimestamps && line.size() >= 17)
            line = line.substr(17);
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

namespace {

// Whether the line is the pattern, each "*" in it standing for any text.
bool Matches(std::string_view line, std::string_view pattern)
{
    const std::size_t star = pattern.find('*');
    if (star == std::string_view::npos)
        return line == pattern;
    if (line.substr(0, star) != pattern.substr(0, star))
        return false;
    const std::string_view rest = pattern.substr(star + 1);
    for (std::size_t from = star; from <= line.size(); ++from)
        if (Matches(line.substr(from), rest))
            return true;
    return false;
}

}  // namespace

::testing::AssertionResult InOrder(const std::vector<std::string>& log, const std::vector<std::string>& expected)
{
    auto at = log.begin();
    for (const std::string& want : expected) {
        at = std::find_if(at, log.end(), [&](const std::string& line) { return Matches(line, want); });
        if (at == log.end()) {
            std::string shown;
            for (const auto& line : log)
                shown += "\n  " + line;
            return ::testing::AssertionFailure() << "missing or out of order: \"" << want << "\" in the log:" << shown;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

TestApp::TestApp()
{
    app.fatal = [](const std::string& message) { throw FatalStop(message); };
    app.endProcess = [](int status) { throw ProcessEnded{status}; };
    app.windowRuns = &windowRuns;
    app.httpsDate = &https;
    // Message boxes answer OK (No for a question) without printing.
    windows.answerMessage = [](const platform::MessageRecord& record) {
        return record.buttons == platform::MessageButtons::Ok ? platform::MessageResult::Ok
                                                              : platform::MessageResult::No;
    };
}

}  // namespace vel::test

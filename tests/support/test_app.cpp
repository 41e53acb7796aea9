#include "support/test_app.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

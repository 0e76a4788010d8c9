// The error board: per-source latest error, repeat counts, clearing on a
// good run, the mouse callbacks shown as one line.
#include "ErrorBoard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Source = ErrorBoard::Source;

struct Report
{
    Source source;
    const char *error;
};

// The shown lines, formatted, after `reports` in order.
std::vector<std::string> Shown(const std::vector<Report> &reports)
{
    ErrorBoard board;
    for (const Report &r : reports)
        board.report(r.source, r.error);
    std::vector<std::string> lines;
    for (const ErrorBoard::Line &line : board.lines())
        lines.push_back(ErrorBoard::format(line));
    EXPECT_EQ(board.empty(), lines.empty());
    return lines;
}

TEST(ErrorBoard, KeepsTheLatestErrorOfEachSourceWithItsCount)
{
    struct Case
    {
        const char *what;
        std::vector<Report> reports;
        std::vector<std::string> lines;
    } const cases[] = {
        {"nothing reported", {}, {}},
        {"successes only", {{ErrorBoard::Update, ""}, {ErrorBoard::Production, ""}}, {}},
        {"one error, line end dropped", {{ErrorBoard::Update, "a:1: boom\n"}}, {"update(): a:1: boom"}},
        {"repeats are counted",
         {{ErrorBoard::Render, "e\n"}, {ErrorBoard::Render, "e\n"}, {ErrorBoard::Render, "e\n"}},
         {"render(): e (\u00d73)"}},
        {"another message starts over",
         {{ErrorBoard::Update, "a\n"}, {ErrorBoard::Update, "a\n"}, {ErrorBoard::Update, "b\n"}},
         {"update(): b"}},
        {"a good run clears its own source only",
         {{ErrorBoard::Update, "u\n"}, {ErrorBoard::Render, "r\n"}, {ErrorBoard::Update, ""}},
         {"render(): r"}},
        {"after clearing the count starts over",
         {{ErrorBoard::Update, "u\n"}, {ErrorBoard::Update, ""}, {ErrorBoard::Update, "u\n"}},
         {"update(): u"}},
        {"line breaks and tabs inside become spaces", {{ErrorBoard::Production, "x\ny\tz\r\n"}},
         {"prod.lua: x y z"}},
        {"a message naming its file shows the name once",
         {{ErrorBoard::Production, "prod.lua:45: '=' expected near 'x'\n"}, {ErrorBoard::Update, "prod.lua:3: u"}},
         {"update(): prod.lua:3: u", "prod.lua:45: '=' expected near 'x'"}},
        {"fixed order whatever the report order",
         {{ErrorBoard::Production, "p"}, {ErrorBoard::LeftButtonUp, "m"}, {ErrorBoard::Render, "r"},
          {ErrorBoard::Update, "u"}},
         {"update(): u", "render(): r", "LMBUp(): m", "prod.lua: p"}},
        {"the mouse line shows the latest mouse error",
         {{ErrorBoard::LeftButtonDown, "down"}, {ErrorBoard::MouseMove, "move"}},
         {"OnMouseMove(): move"}},
        {"a good mouse move leaves a failing LMBDown shown",
         {{ErrorBoard::LeftButtonDown, "down"}, {ErrorBoard::MouseMove, "move"}, {ErrorBoard::MouseMove, ""}},
         {"LMBDown(): down"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Shown(c.reports), c.lines) << c.what;
}

} // namespace

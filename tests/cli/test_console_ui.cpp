#include <gtest/gtest.h>

#include <sstream>

#include "cli/ConsoleUi.h"

TEST(ConsoleUi, BoxesGoToTheErrorStreamOneLineEach)
{
    std::istringstream in;
    std::ostringstream err;
    ConsoleUi ui(CONSOLE_ASK, in, err, false);
    ui.ErrorBox("Invalid image format.");
    ui.InfoBox("Images renamed: 2\r\nImages that couldn't be renamed: 1");
    EXPECT_EQ(err.str(), "Invalid image format.\nImages renamed: 2\nImages that couldn't be renamed: 1\n");
}

TEST(ConsoleUi, WithoutTerminalQuestionsTakeThePreselectedButton)
{
    std::istringstream in("y\ny\ny\n");
    std::ostringstream err;
    ConsoleUi ui(CONSOLE_ASK, in, err, false);
    EXPECT_EQ(ui.YesNo("Delete?", 2), "N");
    EXPECT_EQ(ui.YesNo("Restore?", 1), "Y");
    EXPECT_EQ(ui.YesNoCancel("Overwrite?", 3), "C");
    EXPECT_EQ(ui.YesNoCancel("Overwrite?", 2), "N");
    EXPECT_EQ(ui.OverwriteDialog("Exists", "a.png"), 6);
    std::string text = "proposal";
    EXPECT_TRUE(ui.PromptText("Rename", "Enter new name", text));
    EXPECT_EQ(text, "proposal");
    EXPECT_TRUE(err.str().empty());  // nothing asked, input untouched
}

TEST(ConsoleUi, YesAndNoOptionsAnswerEverything)
{
    std::istringstream in;
    std::ostringstream err;
    ConsoleUi yes(CONSOLE_YES, in, err, true);
    EXPECT_EQ(yes.YesNo("q", 2), "Y");
    EXPECT_EQ(yes.YesNoCancel("q", 3), "Y");
    EXPECT_EQ(yes.OverwriteDialog("c", "t"), 1);
    ConsoleUi no(CONSOLE_NO, in, err, true);
    EXPECT_EQ(no.YesNo("q", 1), "N");
    EXPECT_EQ(no.YesNoCancel("q", 1), "N");
    EXPECT_EQ(no.OverwriteDialog("c", "t"), 2);
    std::string text = "x";
    EXPECT_FALSE(no.PromptText("c", "l", text));
    EXPECT_TRUE(err.str().empty());
}

TEST(ConsoleUi, TerminalAnswers)
{
    std::istringstream in("maybe\nYES\n\nc\nn\nr\n\nNew name\n");
    std::ostringstream err;
    ConsoleUi ui(CONSOLE_ASK, in, err, true);
    EXPECT_EQ(ui.YesNo("Delete Sea.png?", 2), "Y");  // "maybe" is asked again
    EXPECT_EQ(ui.YesNo("Delete?", 1), "Y");          // empty line: preselected
    EXPECT_EQ(ui.YesNoCancel("Go?", 1), "C");
    EXPECT_EQ(ui.YesNoCancel("Go?", 1), "N");
    EXPECT_EQ(ui.OverwriteDialog("Exists", "Sea.png"), 3);
    std::string text = "Old";
    EXPECT_TRUE(ui.PromptText("Rename", "Enter new name", text));  // empty line keeps it
    EXPECT_EQ(text, "Old");
    EXPECT_TRUE(ui.PromptText("Rename", "Enter new name", text));
    EXPECT_EQ(text, "New name");
    EXPECT_NE(err.str().find("Delete Sea.png? [y/N] "), std::string::npos);
    // End of input: the preselected button, Cancel for three-way questions and prompts.
    EXPECT_EQ(ui.YesNo("Again?", 1), "Y");
    EXPECT_EQ(ui.YesNoCancel("Again?", 1), "C");
    EXPECT_FALSE(ui.PromptText("c", "l", text));
    EXPECT_EQ(ui.OverwriteDialog("c", "t"), 6);
}

TEST(ConsoleUi, ConsoleTextLineEnds)
{
    EXPECT_EQ(ConsoleText("a\r\nb\rc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(ConsoleText(""), "");
}

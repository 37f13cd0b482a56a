// The recorders of console, status bar and dialogs; the input state; the break test.
#include <gtest/gtest.h>

#include "kwtest.h"

namespace {

class GuiTest : public kwtest::HostTest {
 protected:
  void TearDown() override {
    kwhost::SetConsoleListener(nullptr);
    HostTest::TearDown();
  }
};

TEST_F(GuiTest, RecordsConsoleStatusAndDialogs) {
  std::vector<String> heard;
  kwhost::SetConsoleListener([&](const String& line) { heard.push_back(line); });
  GePrint(" ");
  GePrint("Quillform v1.37");
  EXPECT_EQ(kwhost::ConsoleLines(), (std::vector<String>{" ", "Quillform v1.37"}));
  EXPECT_EQ(heard, kwhost::ConsoleLines());

  StatusSetText("Caching");
  StatusSetBar(40);
  EXPECT_EQ(kwhost::StatusText(), "Caching");
  EXPECT_EQ(kwhost::StatusBar(), 40);
  StatusSetBar(250);
  EXPECT_EQ(kwhost::StatusBar(), 100);
  StatusSetBar(-5);
  EXPECT_EQ(kwhost::StatusBar(), 0);
  StatusSetBar(70);
  StatusClear();
  EXPECT_EQ(kwhost::StatusText(), "");
  EXPECT_EQ(kwhost::StatusBar(), 0);

  MessageDialog("No object selected");
  EXPECT_EQ(kwhost::Dialogs(), (std::vector<String>{"No object selected"}));
  kwhost::ClearRecorders();
  EXPECT_TRUE(kwhost::ConsoleLines().empty());
  EXPECT_TRUE(kwhost::Dialogs().empty());
}

TEST_F(GuiTest, InputStateReportsShiftAndEscape) {
  BaseContainer state;
  ASSERT_TRUE(GetInputState(BFM_INPUT_KEYBOARD, KEY_ESC, state));
  EXPECT_EQ(state.GetLong(BFM_INPUT_QUALIFIER), 0);
  EXPECT_FALSE(state.GetBool(BFM_INPUT_VALUE));

  kwhost::SetQualifier(QUALIFIER_SHIFT);
  kwhost::SetEscapePressed(true);
  ASSERT_TRUE(GetInputState(BFM_INPUT_KEYBOARD, KEY_ESC, state));
  EXPECT_EQ(state.GetLong(BFM_INPUT_QUALIFIER) & QUALIFIER_SHIFT, QUALIFIER_SHIFT);
  EXPECT_TRUE(state.GetBool(BFM_INPUT_VALUE));
  EXPECT_EQ(state.GetLong(BFM_INPUT_VALUE), 1);

  // Another key is up even while Escape is down.
  ASSERT_TRUE(GetInputState(BFM_INPUT_KEYBOARD, 'A', state));
  EXPECT_FALSE(state.GetBool(BFM_INPUT_VALUE));
  EXPECT_EQ(state.GetLong(BFM_INPUT_QUALIFIER), QUALIFIER_SHIFT);
}

TEST(BaseThread, BreaksAfterTheRequestedNumberOfPolls) {
  BaseThread thread;
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(thread.TestBreak());  // never, by default
  thread.RequestBreakAfter(2);
  EXPECT_FALSE(thread.TestBreak());
  EXPECT_FALSE(thread.TestBreak());
  EXPECT_TRUE(thread.TestBreak());
  EXPECT_TRUE(thread.TestBreak());  // and stays broken
  EXPECT_EQ(thread.PollCount(), 4);
  thread.RequestBreakAfter(0);
  EXPECT_TRUE(thread.TestBreak());
  thread.RequestBreakAfter(-1);
  EXPECT_FALSE(thread.TestBreak());
}

}  // namespace

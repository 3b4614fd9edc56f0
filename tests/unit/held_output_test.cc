#include "console/held_output.h"

#include <gtest/gtest.h>

namespace {

using Clock = HeldOutput::Clock;
using std::chrono::milliseconds;

const Clock::time_point kStart{};

TEST(HeldOutput, IsDueOnceTheHoldLimitHasPassedSinceTheLastPass) {
  HeldOutput held(kStart);
  EXPECT_FALSE(held.Due(kStart + milliseconds(500)));  // nothing held
  held.sink() += "a";
  EXPECT_FALSE(held.Due(kStart + milliseconds(49)));
  EXPECT_TRUE(held.Due(kStart + milliseconds(50)));
  held.Passed(kStart + milliseconds(60));
  EXPECT_EQ(held.held(), "");
  held.sink() += "b";
  EXPECT_FALSE(held.Due(kStart + milliseconds(100)));
  EXPECT_TRUE(held.Due(kStart + milliseconds(110)));
}

TEST(HeldOutput, ColoursStayInStepWhenAClearDropsWhatIsHeld) {
  HeldOutput held(kStart);
  held.SetAttribute(14);
  held.sink() += "context";
  EXPECT_TRUE(held.ColoursMayBeSetDuringPass());
  // The clear erases the text; the colour change must still reach the terminal.
  held.DropForClear();
  EXPECT_EQ(held.held(), "\x1b[0;93;40m");
  held.Passed(kStart);
  EXPECT_TRUE(held.ColoursMayBeSetAfterPass());
  // Back to the default colours, then a clear: the terminal is told so again.
  held.SetAttribute(kDefaultAttribute);
  held.sink() += "x";
  held.DropForClear();
  EXPECT_EQ(held.held(), "\x1b[0m");
  held.Passed(kStart);
  EXPECT_FALSE(held.ColoursMayBeSetAfterPass());
  EXPECT_FALSE(held.ColoursMayBeSetDuringPass());
  held.SetAttribute(kDefaultAttribute);  // no change, no sequence
  EXPECT_EQ(held.held(), "");
}

TEST(HeldOutput, AResetBehindTheWritersBacksSelectsTheirColoursAgain) {
  HeldOutput held(kStart);
  held.SetAttribute(128);
  held.Passed(kStart);
  held.sink() += "match";
  held.ColoursWereReset();
  EXPECT_EQ(held.held(), "\x1b[0;30;100mmatch");
  held.Passed(kStart);
  held.ColoursWereReset();  // twice in a row, or in the default colours: nothing to select
  held.SetAttribute(kDefaultAttribute);
  held.Passed(kStart);
  held.ColoursWereReset();
  EXPECT_EQ(held.held(), "");
}

}  // namespace

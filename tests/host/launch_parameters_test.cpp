#include "launch_parameters.h"

#include <gtest/gtest.h>

#include <string>

namespace dunvelt {
namespace {

// Written out by hand, so that a slip in the constants shows up here.
constexpr char16_t ExpectedLaunchParameters[] =
    uR"(/C "bin\java.exe" -Dprism.order=sw -Dcom.sun.javafx.isEmbedded=true )"
    uR"(-Dcom.sun.javafx.touch=true -Dcom.sun.javafx.virtualKeyboard=none )"
    uR"(-XX:+UseG1GC -Xmx1g -Xms32m -m orbisk/com.varkelund.orbiskapp.Main)";

TEST(BuildLaunchParameters, ComposesTheWholeCommandForTheBundledRuntime) {
  EXPECT_EQ(BuildLaunchParameters(JavaRuntimePath), ExpectedLaunchParameters);
}

TEST(BuildLaunchParameters, StartsWithTheSwitchAndEndsWithTheMainClass) {
  const std::u16string parameters = BuildLaunchParameters(JavaRuntimePath);
  EXPECT_EQ(parameters.substr(0, 4), u"/C \"");
  EXPECT_EQ(parameters.back(), u'n');
  EXPECT_EQ(parameters.find(u"  "), std::u16string::npos) << "no doubled blank";
  EXPECT_NE(parameters.back(), u' ');
}

TEST(BuildLaunchParameters, GivesIdenticalTextOnEveryRun) {
  EXPECT_EQ(BuildLaunchParameters(JavaRuntimePath), BuildLaunchParameters(JavaRuntimePath));
}

TEST(BuildLaunchParameters, QuotesWhateverPathItIsGiven) {
  EXPECT_EQ(BuildLaunchParameters(uR"(C:\Program Files\j"x.exe)").substr(0, 30),
            uR"(/C "C:\Program Files\j""x.exe")");
}

TEST(JavaRuntimePath, StaysRelativeAndUnexpanded) {
  EXPECT_EQ(JavaRuntimePath, uR"(bin\java.exe)");
  EXPECT_EQ(JavaRuntimePath.size(), 12u);
}

TEST(QuoteForCommandLine, WrapsPlainTextInQuotes) {
  EXPECT_EQ(QuoteForCommandLine(uR"(bin\java.exe)", u'"'), uR"("bin\java.exe")");
}

TEST(QuoteForCommandLine, DoublesEveryQuoteInside) {
  EXPECT_EQ(QuoteForCommandLine(u"a\"b", u'"'), u"\"a\"\"b\"");
  EXPECT_EQ(QuoteForCommandLine(u"\"\"", u'"'), u"\"\"\"\"\"\"");
  EXPECT_EQ(QuoteForCommandLine(u"it's", u'\''), u"'it''s'");
}

TEST(QuoteForCommandLine, GivesTwoQuotesForEmptyText) {
  EXPECT_EQ(QuoteForCommandLine(u"", u'"'), u"\"\"");
}

TEST(QuoteForCommandLine, KeepsTextBeyondTheBasicPlane) {
  const std::u16string text = u"D\u00fcnvelt \U0001F600";
  EXPECT_EQ(QuoteForCommandLine(text, u'"'), u"\"" + text + u"\"");
}

}  // namespace
}  // namespace dunvelt

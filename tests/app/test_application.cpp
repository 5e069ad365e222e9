#include "AppTestSupport.h"

#include "core/Errors.h"
#include "ui/ProgressBar.h"

// The box text gets a "." only when the last character sorts after ".".
TEST(ErrorBox, AppendsAFullStopOnlyAfterCharactersAboveIt) {
    EXPECT_EQ(TApplication::ErrorBoxText("No MCI device open"), "No MCI device open.");
    EXPECT_EQ(TApplication::ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(TApplication::ErrorBoxText("List index out of bounds (3)"),
              "List index out of bounds (3)");
    EXPECT_EQ(TApplication::ErrorBoxText("a-"), "a-");
    EXPECT_EQ(TApplication::ErrorBoxText("x/"), "x/.");
    EXPECT_EQ(TApplication::ErrorBoxText(""), "");
}

// An error escaping a timer tick is shown, and what the handler did before it stays done.
TEST_F(AppTest, ErrorEscapingATimerIsShownAndTheProgramGoesOn) {
    int before = 0;
    QTimer::singleShot(0, [&] {
        before = 1;
        throw Exception(QStringLiteral("Boom"));
    });
    ASSERT_TRUE(WaitFor([] { return !RecordedBoxes().isEmpty(); }));
    EXPECT_EQ(RecordedBoxes(), QStringList({"Boom."}));
    EXPECT_EQ(before, 1);
    bool later = false;
    QTimer::singleShot(0, [&] { later = true; });
    EXPECT_TRUE(WaitFor([&] { return later; }));
}

// The bar clamps positions into its 32-bit range, also when the range moves.
TEST(ProgressBar, ClampsIntoItsRange) {
    TProgressBar bar;
    bar.SetPosition(150);
    EXPECT_EQ(bar.Position(), 100);
    bar.SetMax(300000);
    EXPECT_EQ(bar.Position(), 100);
    bar.SetPosition(299999);
    bar.SetMax(1000);
    EXPECT_EQ(bar.Position(), 1000);
    bar.SetPosition(-5);
    EXPECT_EQ(bar.Position(), 0);
    bar.SetMax(0);
    bar.SetPosition(7);
    EXPECT_EQ(bar.Position(), bar.Max());
}

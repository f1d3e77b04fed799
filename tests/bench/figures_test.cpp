// A benchmark part's figures come back from their JSON file as they were written,
// whatever their names hold; a run's summary names what it missed and what failed.
#include "bench/figures.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(Figures, RoundTripThroughTheirFile) {
  // A name of a quote, a backslash, a tab and two control characters.
  const bench::Figure named{"\" \\ \t \x1b \x07", 1.25, "ms\n", bench::Goal::AtMost, 5, 3, true};
  const std::string path = testing::TempDir() + "figures_round_trip.json";
  ASSERT_TRUE(bench::WriteFigures(path, {named, {"not measured", NAN, "x"}}));
  std::vector<bench::Figure> read;
  ASSERT_TRUE(bench::ReadFigures(path, read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0], named);
  EXPECT_TRUE(std::isnan(read[1].value));  // no number: null in the file
}

TEST(Figures, SummaryCountsTargetsAndChecksApart) {
  using bench::Goal;
  EXPECT_EQ(bench::SummaryLine({{"fast", 1, "ms", Goal::AtMost, 2},
                                {"slow", 3, "ms", Goal::AtMost, 2},
                                {"wide", 0.4, "x", Goal::AtLeast, 0.5},
                                {"exact", 0, "yes=1", Goal::AtLeast, 1, 0, true},
                                {"started", 1, "yes=1", Goal::AtLeast, 1, 0, true},
                                {"told", 7, "ms"}}),
            "6 2 1 1 of 3 speed targets met (missed: slow; wide), "
            "1 of 2 correctness checks passed (failed: exact)");
}

}  // namespace

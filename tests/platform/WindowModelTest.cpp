#include <gtest/gtest.h>

#include "platform/WindowModel.h"

using namespace telvara;

namespace {

// A snapshot never changes under its reader; a new status shares the rows of the one before.
TEST(WindowModel, SnapshotsStayAndShareRowsUntilTheyChange) {
  WindowModel w;
  w.InsertRow(0, {"a", "1"});
  auto listed = w.Snapshot();
  w.SetStatus("Stand by");
  w.DeleteRow(5);  // past the end: no change
  auto status = w.Snapshot();
  EXPECT_TRUE(status->version > listed->version && listed->status.empty());
  EXPECT_TRUE(status->rowsVersion == listed->rowsVersion && &status->rows[0] == &listed->rows[0]);
  w.InsertRow(0, {"b", "2"});
  EXPECT_GT(w.Snapshot()->rowsVersion, listed->rowsVersion);
  EXPECT_TRUE(listed->rows.size() == 1 && listed->rows[0].text == "a");
}

// An informing box is open once at most, and a storm of them cannot grow the state.
TEST(WindowModel, InformingBoxesAreBounded) {
  WindowModel w;
  int about = w.OpenBox("About Telvara", "Version 1.0", {"OK"}, false);
  EXPECT_EQ(w.OpenBox("About Telvara", "Version 1.0", {"OK"}, false), about);
  int question = w.OpenBox("Telvara", "Save?", {"Yes", "No"}, true);
  EXPECT_NE(w.OpenBox("Telvara", "Save?", {"Yes", "No"}, true), question);
  for (int i = 0; i < 100; ++i) w.OpenBox("Telvara", "Box " + std::to_string(i), {"OK"}, false);
  EXPECT_EQ(w.Current().boxes.size(), WindowModel::kMaxInformingBoxes + 2);
  EXPECT_FALSE(w.BoxOpen(about));  // the oldest went
  EXPECT_TRUE(w.BoxOpen(question));
}

}  // namespace

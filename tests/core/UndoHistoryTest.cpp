// The undo history without the window: order, and its bounds.
#include <gtest/gtest.h>

#include "editor/UndoHistory.h"

using namespace vlx;

namespace {

TEditorState State(int32_t mark) {
  TEditorState s;
  s.Table[1].Value = mark;
  s.ValueText = std::to_string(mark);
  return s;
}

int32_t Mark(const std::optional<TEditorState>& s) { return s ? s->Table[1].Value : -1; }

}  // namespace

TEST(UndoHistory, UndoAndRedoWalkTheStepsAndANewStepEndsTheRedo) {
  TUndoHistory h;
  EXPECT_FALSE(h.Undo(State(9)).has_value());
  for (int i = 0; i < 3; ++i) h.Record(State(i));  // states 0, 1, 2 were replaced; 3 is shown
  EXPECT_EQ(Mark(h.Undo(State(3))), 2);
  EXPECT_EQ(Mark(h.Undo(State(2))), 1);
  EXPECT_EQ(Mark(h.Redo(State(1))), 2);
  EXPECT_EQ(Mark(h.Undo(State(2))), 1);
  h.Record(State(1));  // a new change from state 1
  EXPECT_FALSE(h.CanRedo());
  EXPECT_EQ(Mark(h.Undo(State(5))), 1);
  EXPECT_EQ(Mark(h.Undo(State(1))), 0);
  EXPECT_FALSE(h.CanUndo());
  EXPECT_EQ(Mark(h.Redo(State(0))), 1);
  EXPECT_EQ(Mark(h.Redo(State(1))), 5);
  EXPECT_FALSE(h.Redo(State(5)).has_value());
}

// Past either bound the oldest steps go, the newest stay; the bytes counted
// go back to nothing when the steps go.
TEST(UndoHistory, TheOldestStepsGoPastTheBounds) {
  const std::size_t one = State(0).Bytes();
  struct Case {
    const char* what;
    std::size_t maxSteps, maxBytes, kept;
  };
  const Case cases[] = {
      {"by count", 100, 1u << 30, 100},
      {"by bytes", 1000, one * 40 + one / 2, 40},
      {"the newest always", 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TUndoHistory h(c.maxSteps, c.maxBytes);
    for (int i = 0; i < 250; ++i) h.Record(State(i));
    EXPECT_EQ(h.UndoSteps(), c.kept);
    EXPECT_LE(h.Bytes(), std::max(c.maxBytes, one));
    int32_t expect = 249;
    for (auto s = h.Undo(State(250)); s; s = h.Undo(State(expect + 1))) EXPECT_EQ(Mark(s), expect--);
    EXPECT_EQ(expect, 249 - static_cast<int32_t>(c.kept));
    h.Clear();
    EXPECT_EQ(h.Bytes(), 0u);
  }
  // The default keeps well over a hundred steps in a few megabytes.
  TUndoHistory h;
  for (int i = 0; i < 300; ++i) h.Record(State(i));
  EXPECT_GE(h.UndoSteps(), 100u);
  EXPECT_LE(h.Bytes(), TUndoHistory::DefaultMaxBytes);
}

// The window's undo and redo, without the window: snapshots of everything a
// step brings back, kept in a history bounded by count and by bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "profile/ParaTable.h"

namespace vlx {

// What the window shows of the profile: the table, the file it belongs to,
// the selected control,
// the editor's fields for it as they stand (typed and not yet stored
// included) and the eight GLOBAL lists.
struct TEditorState {
  TParaTable Table;
  int32_t CurrentControl = 0;
  std::string ProfilePath;     // the file SAVE writes
  std::string ProfileCaption;  // the profile's name in the window
  std::string ValueText;    // the value box
  std::string NameText;     // the name box (Latin-1)
  std::string NameCaption;  // the name shown above it
  int32_t Channel = -1;     // list positions, -1 for no selection
  int32_t DataType = -1;
  int32_t ControlMode = -1;
  bool Enabled = true;
  std::array<int32_t, 8> Globals{};

  bool operator==(const TEditorState&) const;
  // What the snapshot holds in memory, for the history's bound.
  std::size_t Bytes() const;
};

bool TablesEqual(const TParaTable& a, const TParaTable& b);

// Undo and redo stacks of editor states. Record() takes the state before a
// change; Undo() and Redo() take the state now and give the one to show. The
// oldest steps are dropped when either bound is passed; the newest step is
// always kept.
class TUndoHistory {
 public:
  static constexpr std::size_t DefaultMaxSteps = 500;
  static constexpr std::size_t DefaultMaxBytes = 8u << 20;  // 8 MiB, about 1,500 steps

  explicit TUndoHistory(std::size_t maxSteps = DefaultMaxSteps, std::size_t maxBytes = DefaultMaxBytes);

  // A change was made: before is what it replaced. The redo steps go.
  void Record(TEditorState before);
  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  // The state before the last step; now goes to the redo steps. Nothing
  // when there is nothing to undo.
  std::optional<TEditorState> Undo(TEditorState now);
  // The state the last undone step made; now goes back to the undo steps.
  std::optional<TEditorState> Redo(TEditorState now);
  void Clear();

  std::size_t UndoSteps() const { return undo_.size(); }
  std::size_t RedoSteps() const { return redo_.size(); }
  std::size_t Bytes() const { return bytes_; }

 private:
  struct Entry {
    TEditorState State;
    std::size_t Bytes;  // as counted when it came in
  };
  void Push(std::deque<Entry>& stack, TEditorState s);
  TEditorState Pop(std::deque<Entry>& stack);
  void Trim();

  std::size_t maxSteps_, maxBytes_;
  std::deque<Entry> undo_, redo_;  // newest at the back
  std::size_t bytes_ = 0;
};

}  // namespace vlx

#include "editor/UndoHistory.h"

#include <algorithm>
#include <cstring>

namespace vlx {

bool TablesEqual(const TParaTable& a, const TParaTable& b) {
  // The records are plain bytes; the unused characters after a name count
  // too, as the file keeps them.
  return std::memcmp(a.Records.data(), b.Records.data(), sizeof a.Records) == 0;
}

bool TEditorState::operator==(const TEditorState& o) const {
  return TablesEqual(Table, o.Table) && CurrentControl == o.CurrentControl && ProfilePath == o.ProfilePath &&
         ProfileCaption == o.ProfileCaption && ValueText == o.ValueText &&
         NameText == o.NameText && NameCaption == o.NameCaption && Channel == o.Channel && DataType == o.DataType &&
         ControlMode == o.ControlMode && Enabled == o.Enabled && Globals == o.Globals;
}

std::size_t TEditorState::Bytes() const {
  return sizeof(TEditorState) + ProfilePath.capacity() + ProfileCaption.capacity() + ValueText.capacity() + NameText.capacity() + NameCaption.capacity();
}

TUndoHistory::TUndoHistory(std::size_t maxSteps, std::size_t maxBytes)
    : maxSteps_(std::max<std::size_t>(maxSteps, 1)), maxBytes_(maxBytes) {}

void TUndoHistory::Push(std::deque<Entry>& stack, TEditorState s) {
  const std::size_t n = s.Bytes();
  bytes_ += n;
  stack.push_back(Entry{std::move(s), n});
}

TEditorState TUndoHistory::Pop(std::deque<Entry>& stack) {
  Entry e = std::move(stack.back());
  stack.pop_back();
  bytes_ -= e.Bytes;
  return std::move(e.State);
}

void TUndoHistory::Trim() {
  // The steps farthest from now go first: the oldest undo steps, and only
  // when none is left but the last, the farthest redo steps.
  const auto over = [this] { return undo_.size() + redo_.size() > maxSteps_ || bytes_ > maxBytes_; };
  while (over() && undo_.size() + redo_.size() > 1) {
    std::deque<Entry>& from = undo_.size() > 1 || redo_.empty() ? undo_ : redo_;
    bytes_ -= from.front().Bytes;
    from.pop_front();
  }
}

void TUndoHistory::Record(TEditorState before) {
  for (const auto& e : redo_) bytes_ -= e.Bytes;
  redo_.clear();
  Push(undo_, std::move(before));
  Trim();
}

std::optional<TEditorState> TUndoHistory::Undo(TEditorState now) {
  if (undo_.empty()) return std::nullopt;
  TEditorState back = Pop(undo_);
  Push(redo_, std::move(now));
  Trim();
  return back;
}

std::optional<TEditorState> TUndoHistory::Redo(TEditorState now) {
  if (redo_.empty()) return std::nullopt;
  TEditorState next = Pop(redo_);
  Push(undo_, std::move(now));
  Trim();
  return next;
}

void TUndoHistory::Clear() {
  undo_.clear();
  redo_.clear();
  bytes_ = 0;
}

}  // namespace vlx

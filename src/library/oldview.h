#pragma once

// The bytes of a library's data file as they were before the change now under way in
// place, for a reader in the same program that must keep showing the library as it was
// until the change commits: a window that paints while a worker thread writes.  The
// protected bytes come from the change's journal, the rest from the reader's own data file
// (a change in place writes nothing else).  A change through a new pair never touches the
// old file and needs no view.

#include <memory>
#include <vector>

#include "common/errors.h"
#include "common/fileio.h"
#include "library/journal.h"

class TOldView {
 public:
  // journal: the change's journal, complete and on the disk; ranges: where the old bytes
  // of the data file stand in it; oldSize: the data file's size before the change.
  TOldView(std::unique_ptr<TFile> journal, std::vector<TJournalRange> ranges, int64_t oldSize)
      : journal_(std::move(journal)), ranges_(std::move(ranges)), oldSize_(oldSize) {}

  int64_t OldSize() const { return oldSize_; }
  // Reads up to n bytes at offset as they were; data is the reader's own data file.
  // Short only at the old end of the file.  Safe from any thread.
  int64_t ReadAt(TFile& data, int64_t offset, void* buffer, int64_t n) const;

 private:
  std::unique_ptr<TFile> journal_;
  std::vector<TJournalRange> ranges_;  // sorted, apart
  int64_t oldSize_;
};

// A data file seen through a view: what a reader reads while a change runs.
class TOldViewFile final : public TFile {
 public:
  TOldViewFile(TFile& data, std::shared_ptr<const TOldView> view)
      : TFile(data.Path()), data_(data), view_(std::move(view)) {}
  int64_t ReadAt(int64_t offset, void* buffer, int64_t n) override {
    return view_->ReadAt(data_, offset, buffer, n);
  }
  void WriteAt(int64_t, const void*, int64_t) override { throw EWriteError(); }
  int64_t Size() override { return view_->OldSize(); }
  void Truncate(int64_t) override { throw EWriteError(); }
  void Flush() override {}

 private:
  TFile& data_;
  std::shared_ptr<const TOldView> view_;
};

#pragma once
// The message list's rows as a window state carries them: an immutable list that every
// snapshot shares until the rows themselves change, so that publishing a new status
// does not copy 65,535 rows. Immutable once made, so any thread may read it; building
// one (push_back) is for the thread that owns it.
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace telvara {

struct ListRow {
  std::string text;      // the list line as shown
  std::string identity;  // what a command on this row carries (file name and time)
};

class RowList {
 public:
  RowList() = default;
  explicit RowList(std::vector<ListRow> rows) : rows_(std::make_shared<const std::vector<ListRow>>(std::move(rows))) {}

  std::size_t size() const { return All().size(); }
  bool empty() const { return All().empty(); }
  const ListRow& operator[](std::size_t index) const { return All()[index]; }
  std::vector<ListRow>::const_iterator begin() const { return All().begin(); }
  std::vector<ListRow>::const_iterator end() const { return All().end(); }

  // Copies the list with one more row: for a state built by hand, a row at a time.
  void push_back(ListRow row) {
    std::vector<ListRow> rows = All();
    rows.push_back(std::move(row));
    *this = RowList(std::move(rows));
  }

 private:
  const std::vector<ListRow>& All() const {
    static const std::vector<ListRow> kNone;
    return rows_ ? *rows_ : kNone;
  }

  std::shared_ptr<const std::vector<ListRow>> rows_;
};

}  // namespace telvara

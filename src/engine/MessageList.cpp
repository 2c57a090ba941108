// The message list of the window: one row per message of the document, in its order.
#include "engine/COrvanelView.h"
#include "platform/WindowModel.h"
#include "store/OrvanelDoc.h"

namespace telvara {

std::string COrvanelView::RowIdentity(const CMessage& message) {
  // What a command on the row carries, so that a list changed meanwhile never makes a
  // button act on another message.
  return message.fileName + " " + std::to_string(static_cast<long long>(message.time));
}

int COrvanelView::FillMessageList() {
  if (!document_) return 1;
  // Row i is message i: the rows are replaced as a whole, and the window publishes once.
  std::vector<ListRow> rows;
  rows.reserve(static_cast<std::size_t>(document_->GetMessageCount()));
  for (int i = 0; i < document_->GetMessageCount(); ++i) {
    CMessage* message = document_->GetMessageAt(i);
    message->BuildListLine();
    rows.push_back({message->listLine, RowIdentity(*message)});
  }
  env_.window->SetRows(std::move(rows));
  return 1;
}

}  // namespace telvara

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
  WindowModel::Batch batch(*env_.window);  // the pages see the whole list at once
  for (int i = 0; i < document_->GetMessageCount(); ++i) {
    CMessage* message = document_->GetMessageAt(i);
    message->BuildListLine();
    env_.window->InsertRow(static_cast<std::size_t>(i), {message->listLine, RowIdentity(*message)});
  }
  return 1;
}

}  // namespace telvara

#include "engine/WindowQuestions.h"

#include <cstdlib>

#include "platform/WindowModel.h"

namespace telvara {

int WindowQuestions::Ask(const std::string& title, const std::string& text, std::vector<std::string> buttons,
                         OnAnswer onAnswer) {
  int id = window_.OpenBox(title, text, std::move(buttons), true);
  waiting_[id] = std::move(onAnswer);
  return id;
}

bool WindowQuestions::Answer(const std::string& data) {
  char* end = nullptr;
  long id = std::strtol(data.c_str(), &end, 10);
  if (end == data.c_str() || id <= 0 || id > 0x7FFFFFFF) return false;
  if (!window_.CloseBox(static_cast<int>(id))) return false;
  auto it = waiting_.find(static_cast<int>(id));
  if (it == waiting_.end()) return true;
  OnAnswer onAnswer = std::move(it->second);
  waiting_.erase(it);  // first: the answer may ask again
  std::string button = *end == ' ' ? std::string(end + 1) : std::string();
  if (onAnswer) onAnswer(button);
  return true;
}

}  // namespace telvara

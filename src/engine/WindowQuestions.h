#pragma once
// Questions the engine asks in the window (Yes, No, Cancel, ...): a modal box whose
// answer runs what the asker left for it. The engine does not wait for the browser
// in a nested loop: a page that never answers, or a question asked in the middle of a
// call, would hold the line. Engine thread only.
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace telvara {

class WindowModel;

class WindowQuestions {
 public:
  using OnAnswer = std::function<void(const std::string& button)>;

  explicit WindowQuestions(WindowModel& window) : window_(window) {}

  // Opens the box; `onAnswer` runs with the button when the page answers it.
  int Ask(const std::string& title, const std::string& text, std::vector<std::string> buttons, OnAnswer onAnswer);
  // A box answer from the page ("<box id> <button>"): closes the box and, for a
  // question, runs its answer. False when no such box is open.
  bool Answer(const std::string& data);
  bool Pending(int id) const { return waiting_.count(id) != 0; }

 private:
  WindowModel& window_;
  std::map<int, OnAnswer> waiting_;
};

}  // namespace telvara

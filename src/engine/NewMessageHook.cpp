// The owner's command for each new message ([NOTIFY] COMMAND): started after the
// message is listed, its values in the environment only, its failures in the status.
#include <ctime>

#include "engine/COrvanelView.h"
#include "platform/HookRunner.h"
#include "store/Message.h"
#include "store/OrvanelDoc.h"

namespace telvara {
namespace {

// ISO 8601 local time with its offset from UTC: 2026-03-05T14:07:09+01:00.
std::string IsoLocalTime(std::time_t when) {
  std::tm local{};
  if (!localtime_r(&when, &local)) return "";
  char text[40];
  if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0) return "";
  std::string out = text;
  if (out.size() >= 5) out.insert(out.size() - 2, ":");  // +0100 -> +01:00
  return out;
}

}  // namespace

void COrvanelView::StartHooks() {
  if (settings.notifyCommand.empty()) return;
  hooks_ = std::make_unique<HookRunner>(*env_.loop, env_.hookOutput, [this](const HookResult& result) {
    if (!result.Ok()) ShowStatus("New-message hook failed: " + result.Describe(hooks_->Limits().runMs));
  });
}

void COrvanelView::NotifyNewMessage(const CMessage& message) {
  if (!hooks_) return;
  pendingHook_ = {
      {"TELVARA_FILE", inboxDir + message.fileName},
      {"TELVARA_CALLER", message.callerId},
      {"TELVARA_LENGTH", std::to_string(message.lengthSeconds)},
      {"TELVARA_TIME", IsoLocalTime(static_cast<std::time_t>(message.time))},
      {"TELVARA_LOG", document_ ? document_->GetPathName() : ""},
  };
}

void COrvanelView::RunPendingHook() {
  if (!hooks_ || pendingHook_.empty()) return;
  HookRunner::Environment variables = std::move(pendingHook_);
  pendingHook_.clear();
  // Closing ends hooks at once: one started now would only be killed.
  if (env_.loop->Closing()) return;
  std::string file = variables.front().second;
  if (!hooks_->Run(settings.notifyCommand, std::move(variables)))
    ShowStatus("New-message hook failed: " + std::to_string(HookRunner::kMaxWaiting) +
               " hooks are already waiting; not run for " + file);
}

}  // namespace telvara

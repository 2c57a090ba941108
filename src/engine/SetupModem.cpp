// The menu command "Set up Modem": the "Modem Set Up" dialog, its confirmation and the
// offer to restart. The page draws the dialog from the window state and answers with
// its values; the view never waits for it, so calls are answered meanwhile.
#include "engine/COrvanelView.h"
#include "platform/SerialDevices.h"
#include "platform/WindowModel.h"
#include "settings/ModemSetupDlg.h"

namespace telvara {

namespace {
const char kConfirmTitle[] = "Change Settings";
const char kConfirmText[] = "You must restart the program to make the changes effective. Save the changes?";
}  // namespace

void COrvanelView::OnSetupModem() {
  if (setupDialog_) return;  // one dialog: the open one stays as it is
  setupDialog_ = std::make_unique<CModemSetupDlg>(*env_.profile);
  setupDialog_->OnInitDialog(env_.findSerialDevices ? env_.findSerialDevices() : FindSerialDevices());
  env_.window->ShowSetupDialog(setupDialog_->State());
}

void COrvanelView::OnSetupAnswer(const std::string& data) {
  // No dialog, or its confirmation is still open: an answer from a page that had not
  // seen that yet.
  if (!setupDialog_ || setupQuestion_ != 0) return;
  if (data == "cancel") {
    setupDialog_.reset();
    env_.window->CloseSetupDialog();
    return;
  }
  SetupControls controls;
  if (!SetupControls::FromJson(data, controls)) {
    ShowStatus("The Modem Set Up dialog sent values that could not be read; nothing was changed");
    return;
  }
  setupDialog_->TakeControls(controls);
  // The values as OK read them stay on show while the question is open, and after Cancel.
  env_.window->ShowSetupDialog(setupDialog_->State());
  setupQuestion_ = questions_.Ask(kConfirmTitle, kConfirmText, {"Yes", "No", "Cancel"},
                                  [this](const std::string& button) { ConfirmSetup(button); });
}

void COrvanelView::ConfirmSetup(const std::string& button) {
  setupQuestion_ = 0;
  if (!setupDialog_ || button == "Cancel") return;
  if (button == "Yes") {
    std::string error = setupDialog_->Save();
    if (!error.empty()) {
      // The dialog stays open with its values, so nothing typed is lost.
      MessageBox("The settings could not be saved: " + error, kConfirmTitle);
      return;
    }
  }
  setupDialog_.reset();
  env_.window->CloseSetupDialog();
  if (button == "Yes") OfferRestart();
}

void COrvanelView::OfferRestart() {
  questions_.Ask(kConfirmTitle, "The changes take effect when Telvara starts again. Restart Telvara now?",
                 {"Yes", "No"}, [this](const std::string& button) {
                   if (button != "Yes") return;
                   restartRequested_ = true;
                   ShowStatus("Restarting Telvara");
                   env_.loop->PostClose();
                 });
}

}  // namespace telvara

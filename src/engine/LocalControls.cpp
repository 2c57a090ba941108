// The four buttons at the PC: play and delete the selected message, play and record
// the greeting, through the handset, the modem speaker or the sound card (the browser
// that clicked).
#include <stdio.h>
#include <unistd.h>

#include "engine/COrvanelView.h"
#include "modem/FMODEM.h"
#include "platform/BrowserSoundCard.h"
#include "platform/WindowModel.h"
#include "prompts/PromptTable.h"
#include "store/OrvanelDoc.h"

namespace telvara {
namespace {

constexpr char kRecordingCaption[] = "Sound Card Recording";
constexpr char kPlaybackFailed[] = "Sound card playback failed";
// The greeting recorded by telephone goes here first.
constexpr char kNewAnnounceFile[] = "announce-new.wav";

// A file name as a URL's query value.
std::string QueryEscape(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
        c == '_') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

int COrvanelView::FindMessage(const std::string& identity) const {
  for (int i = 0; document_ && !identity.empty() && i < document_->GetMessageCount(); ++i)
    if (RowIdentity(*document_->GetMessageAt(i)) == identity) return i;
  return -1;
}

bool COrvanelView::UsesSoundCard() const {
  return settings.outputDevice != Handset && settings.outputDevice != ModemSpeaker;
}

bool COrvanelView::PrepareLocalLine(const char* flowControlFailed) {
  if (modem_->SetVoiceMode() == ResultNone) return false;
  if (modem_->SetFlowControl() != 1 && flowControlFailed) ShowStatus(flowControlFailed);
  return modem_->SelectLine(settings.outputDevice == Handset ? LineHandset : LineSpeaker) != 0;
}

void COrvanelView::OnPlayMessage(const std::string& identity, const std::string& page) {
  RunOnLine(
      [&] {
        ShowStatus("Playback On Going");
        modem_->FlushEvents();
        int i = FindMessage(identity);
        if (i < 0) return;
        std::string fileName = document_->GetMessageAt(i)->fileName;
        if (UsesSoundCard()) {
          if (!soundCard_->Play(page, inboxDir + fileName, "api/message?file=" + QueryEscape(fileName)))
            MessageBox(kPlaybackFailed);
          return;
        }
        if (!PrepareLocalLine(nullptr) || PlayInboxFile(fileName) == 0) return;
        // Found again: the list may have changed while it played.
        i = FindMessage(identity);
        CMessage* message = i < 0 ? nullptr : document_->GetMessageAt(i);
        if (!message || message->status != MessageStatus::StatusNew) return;
        message->status = MessageStatus::StatusOld;
        message->BuildListLine();
        env_.window->DeleteRow(static_cast<std::size_t>(i));
        env_.window->InsertRow(static_cast<std::size_t>(i), {message->listLine, RowIdentity(*message)});
        ShowIfNotSaved(document_->MarkModified());
      },
      "");
}

void COrvanelView::OnDeleteMessage(const std::string& identity) {
  // A call or a button on the line may be playing or walking the messages by position.
  if (env_.window->Current().lineBusy) {
    ShowStatus("The line is in use: the message was not deleted");
    return;
  }
  int i = FindMessage(identity);
  if (i < 0) return;
  env_.window->DeleteRow(static_cast<std::size_t>(i));
  ShowIfNotSaved(document_->RemoveMessage(i));
}

void COrvanelView::OnPlayAnnouncement(const std::string& page) {
  RunOnLine(
      [&] {
        ShowStatus("Playing the announcement message");
        modem_->FlushEvents();
        if (UsesSoundCard()) {
          if (!soundCard_->Play(page, systemDir + kAnnounceCardFile, "api/greeting")) MessageBox(kPlaybackFailed);
          return;
        }
        if (PrepareLocalLine("Set Flow Error")) PlayPrompt(kAnnounceFile);
      },
      "");
}

void COrvanelView::OnRecordAnnouncement(const std::string& page) {
  RunOnLine(
      [&] {
        ShowStatus("Recording new announcement message");
        modem_->FlushEvents();
        if (UsesSoundCard())
          RecordWithSoundCard(page);
        else if (PrepareLocalLine("Set hardware flow control failed"))
          RecordAnnounceFile();
      },
      "");
}

int COrvanelView::RecordAnnounceFile() {
  std::string fresh = systemDir + kNewAnnounceFile;
  bool recorded = RecordPrompt(kNewAnnounceFile) == 1;
  if (recorded && rename(fresh.c_str(), (systemDir + kAnnounceFile).c_str()) == 0) return 1;
  unlink(fresh.c_str());
  return 0;
}

void COrvanelView::RecordWithSoundCard(const std::string& page) {
  ShowStatus("Recording with Sound Card microphone");
  switch (soundCard_->OpenRecorder(page)) {
    case BrowserSoundCard::Opened::Recording: {
      ShowStatus("Recording using Sound Card microphone");
      int box = env_.window->OpenBox(kRecordingCaption, "Recording. Press OK when done.", {"OK"}, true);
      soundCard_->WaitWhileRecording(box);
      if (!soundCard_->StopRecorder())
        MessageBox("Can't Stop Record", kRecordingCaption);
      else if (!soundCard_->SaveRecording(systemDir + kAnnounceCardFile))
        MessageBox("Can't Save Record", kRecordingCaption);
      break;
    }
    case BrowserSoundCard::Opened::InsecurePage:
      MessageBox(
          "MCI Open Error\nThe browser gives the microphone only to a page served over HTTPS or from this machine "
          "(127.0.0.1); [WEB] TLS=1 in telvara.ini serves the window over HTTPS.",
          kRecordingCaption);
      break;
    case BrowserSoundCard::Opened::OpenFailed: MessageBox("MCI Open Error", kRecordingCaption); break;
    case BrowserSoundCard::Opened::StartFailed: MessageBox("Can't Start Record", kRecordingCaption); break;
  }
  soundCard_->Close();
  MessageBox("All Done", kRecordingCaption);
}

}  // namespace telvara

#pragma once
// The fixed names of the files the machine speaks with, all in the system directory.
// Prompts are named by index only; no name is built at run time.
namespace telvara {

constexpr int kPromptCount = 39;

// kPrompt[k] is prompt k, 1 to 39; index 0 holds no name.
inline constexpr const char* kPrompt[kPromptCount + 1] = {
    nullptr,      "sys001.wav", "sys002.wav", "sys003.wav", "sys004.wav", "sys005.wav", "sys006.wav", "sys007.wav",
    "sys008.wav", "sys009.wav", "sys010.wav", "sys011.wav", "sys012.wav", "sys013.wav", "sys014.wav", "sys015.wav",
    "sys016.wav", "sys017.wav", "sys018.wav", "sys019.wav", "sys020.wav", "sys021.wav", "sys022.wav", "sys023.wav",
    "sys024.wav", "sys025.wav", "sys026.wav", "sys027.wav", "sys028.wav", "sys029.wav", "sys030.wav", "sys031.wav",
    "sys032.wav", "sys033.wav", "sys034.wav", "sys035.wav", "sys036.wav", "sys037.wav", "sys038.wav", "sys039.wav"};

inline constexpr const char kItsFile[] = "its.wav";
inline constexpr const char kAmFile[] = "am.wav";
inline constexpr const char kPmFile[] = "pm.wav";
inline constexpr const char kOFile[] = "o.wav";                    // "o" before a one-digit group: three-o-five
inline constexpr const char kAnnounceFile[] = "announce.wav";      // greeting recorded by modem
inline constexpr const char kAnnounceCardFile[] = "announc2.wav";  // greeting by sound card
inline constexpr const char kOrvanelFile[] = "orvanel.wav";        // caller key 5

// Sunday first, as tm_wday counts; Wednesday's file is spelled without the e.
inline constexpr const char* kWeekdayFile[7] = {"Sunday.wav",   "Monday.wav", "Tuesday.wav", "Wednsday.wav",
                                                "Thursday.wav", "Friday.wav", "Saturday.wav"};

}  // namespace telvara

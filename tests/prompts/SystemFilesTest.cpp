// Checks the recordings that ship in system/ (and the simulator's voices): the fixed
// 44-byte header the modem driver skips, the 7200/s 8-bit mono format, that each file
// holds real sound, is trimmed and loud enough for a telephone line, and that none is
// missing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kRate = 7200;
constexpr std::size_t kHeaderSize = 44;
constexpr std::size_t kFrame = kRate / 100;  // 10 ms
// A 10 ms frame is sound when its samples stray from the midpoint 128 by 3 or more
// on average (about -32 dB below full scale); anything quieter counts as silence.
constexpr int kSoundLevel = 3;

const fs::path kSystemDir = fs::path(TELVARA_SOURCE_DIR) / "system";
const fs::path kVoicesDir = fs::path(TELVARA_SOURCE_DIR) / "sim" / "voices";

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t Le16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

bool TagAt(const Bytes& b, std::size_t at, const char* tag) {
    return std::equal(tag, tag + 4, b.begin() + static_cast<std::ptrdiff_t>(at));
}

// Empty when the file is exactly the 44-byte header, the samples and (for an odd
// count) one zero pad byte, in 8-bit mono PCM at 7200 samples per second.
std::string LayoutProblem(const Bytes& b) {
    if (b.size() < kHeaderSize) return "shorter than the 44-byte header";
    if (!TagAt(b, 0, "RIFF")) return "no RIFF tag at 0";
    if (!TagAt(b, 8, "WAVE")) return "no WAVE tag at 8";
    if (!TagAt(b, 12, "fmt ")) return "no 'fmt ' tag at 12";
    if (Le32(b, 16) != 16) return "format chunk size " + std::to_string(Le32(b, 16)) + ", not 16";
    if (Le16(b, 20) != 1) return "format tag " + std::to_string(Le16(b, 20)) + ", not PCM";
    if (Le16(b, 22) != 1) return std::to_string(Le16(b, 22)) + " channels, not mono";
    if (Le32(b, 24) != kRate) return "sample rate " + std::to_string(Le32(b, 24)) + ", not 7200";
    if (Le32(b, 28) != kRate) return "bytes per second " + std::to_string(Le32(b, 28)) + ", not 7200";
    if (Le16(b, 32) != 1) return "block align " + std::to_string(Le16(b, 32)) + ", not 1";
    if (Le16(b, 34) != 8) return std::to_string(Le16(b, 34)) + " bits per sample, not 8";
    if (!TagAt(b, 36, "data")) return "no 'data' tag at 36";
    const std::uint64_t data = Le32(b, 40);
    const std::uint64_t pad = data & 1;
    if (kHeaderSize + data + pad != b.size())
        return "data length " + std::to_string(data) + " does not match the " +
               std::to_string(b.size() - kHeaderSize) + " bytes after the header";
    if (pad && b.back() != 0) return "pad byte is not 0";
    if (Le32(b, 4) != b.size() - 8)
        return "RIFF size " + std::to_string(Le32(b, 4)) + ", not the file length less 8";
    return {};
}

// The sample bytes of a file that passed LayoutProblem (the pad byte excluded).
Bytes Samples(const Bytes& b) {
    const auto first = b.begin() + kHeaderSize;
    return Bytes(first, first + Le32(b, 40));
}

// One flag per whole 10 ms frame: true when the frame is sound.
std::vector<bool> SoundFrames(const Bytes& samples) {
    std::vector<bool> frames;
    for (std::size_t at = 0; at + kFrame <= samples.size(); at += kFrame) {
        int deviation = 0;
        for (std::size_t i = at; i < at + kFrame; ++i) deviation += std::abs(samples[i] - 128);
        frames.push_back(deviation >= kSoundLevel * static_cast<int>(kFrame));
    }
    return frames;
}

double SoundSeconds(const Bytes& samples) {
    const auto frames = SoundFrames(samples);
    return std::count(frames.begin(), frames.end(), true) * 0.01;
}

double LeadingSilenceSeconds(const Bytes& samples) {
    const auto frames = SoundFrames(samples);
    return (std::find(frames.begin(), frames.end(), true) - frames.begin()) * 0.01;
}

double TrailingSilenceSeconds(const Bytes& samples) {
    const auto frames = SoundFrames(samples);
    return (std::find(frames.rbegin(), frames.rend(), true) - frames.rbegin()) * 0.01;
}

int PeakDeviation(const Bytes& samples) {
    int peak = 0;
    for (auto s : samples) peak = std::max(peak, std::abs(s - 128));
    return peak;
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The pieces that are played back to back inside a spoken number, time or digit string.
std::vector<std::string> PieceNames() {
    std::vector<std::string> names = {"its.wav",      "am.wav",       "pm.wav",
                                      "Sunday.wav",   "Monday.wav",   "Tuesday.wav",
                                      "Wednsday.wav", "Thursday.wav", "Friday.wav",
                                      "Saturday.wav", "o.wav",        "*.wav",
                                      "#.wav"};
    for (int n = 0; n <= 19; ++n) names.push_back(std::to_string(n) + ".wav");
    for (int n = 20; n <= 90; n += 10) names.push_back(std::to_string(n) + ".wav");
    return names;
}

// Every file the program may ask for in system/ and that ships with it.
std::vector<std::string> RequiredNames() {
    std::vector<std::string> names = PieceNames();
    for (int k = 1; k <= 39; ++k) {
        std::string digits = std::to_string(k);
        names.push_back("sys" + std::string(3 - digits.size(), '0') + digits + ".wav");
    }
    names.push_back("announce.wav");
    names.push_back("orvanel.wav");
    return names;
}

// A well-formed file as the layout describes it, for checking the checks.
Bytes MakeWav(const Bytes& samples) {
    Bytes b;
    auto tag = [&](const char* t) { b.insert(b.end(), t, t + 4); };
    auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i))); };
    auto u16 = [&](std::uint16_t v) { b.push_back(static_cast<std::uint8_t>(v)); b.push_back(static_cast<std::uint8_t>(v >> 8)); };
    const std::uint32_t pad = samples.size() & 1;
    tag("RIFF"); u32(static_cast<std::uint32_t>(36 + samples.size() + pad)); tag("WAVE");
    tag("fmt "); u32(16); u16(1); u16(1); u32(kRate); u32(kRate); u16(1); u16(8);
    tag("data"); u32(static_cast<std::uint32_t>(samples.size()));
    b.insert(b.end(), samples.begin(), samples.end());
    if (pad) b.push_back(0);
    return b;
}

Bytes Tone(double seconds, int amplitude) {
    Bytes s(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i % 8 < 4 ? 128 + amplitude : 128 - amplitude);
    return s;
}

Bytes Silence(double seconds) { return Bytes(static_cast<std::size_t>(seconds * kRate), 128); }

Bytes Joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The checks themselves must tell a good file from the usual ways a tool gets it wrong.
TEST(WavChecks, TellTheLayoutFromHeadersThatWouldBePlayedAsSound) {
    const Bytes good = MakeWav(Tone(0.5, 40));
    const Bytes odd = MakeWav(Joined({Tone(0.5, 40), Bytes{128}}));
    ASSERT_EQ(odd.size(), kHeaderSize + 3601 + 1);
    for (const Bytes& b : {good, odd, MakeWav({})}) EXPECT_EQ(LayoutProblem(b), "");

    const Bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    auto edited = [](Bytes b, auto&& edit) {
        edit(b);
        Put32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
        return b;
    };
    auto changed = [&](std::size_t at, std::uint8_t value) { Bytes b = good; b[at] = value; return b; };
    const std::pair<const char*, Bytes> bad[] = {
        {"longer format chunk", edited(good, [](Bytes& b) { Put32(b, 16, 18); b.insert(b.begin() + 36, {0, 0}); })},
        {"chunk before the data", edited(good, [&](Bytes& b) { b.insert(b.begin() + 36, list.begin(), list.end()); })},
        {"chunk after the data", edited(good, [&](Bytes& b) { b.insert(b.end(), list.begin(), list.end()); })},
        {"odd data without pad", edited(odd, [](Bytes& b) { b.pop_back(); })},
        {"pad byte not 0", [&] { Bytes b = odd; b.back() = 0x80; return b; }()},
        {"truncated", Bytes(good.begin(), good.end() - 10)},
        {"RIFF size off", [&] { Bytes b = good; Put32(b, 4, static_cast<std::uint32_t>(good.size())); return b; }()},
        {"shorter than a header", Bytes(good.begin(), good.begin() + 40)},
        {"float", changed(20, 3)},
        {"stereo", changed(22, 2)},
        {"sample rate", changed(24, 0x40)},
        {"byte rate", changed(28, 0x40)},
        {"block align", changed(32, 2)},
        {"16 bit", changed(34, 16)},
        {"data tag", changed(36, 'D')},
    };
    for (const auto& [what, b] : bad) EXPECT_NE(LayoutProblem(b), "") << what;
}

TEST(WavChecks, SoundMeasureIgnoresSilenceAndFaintNoise) {
    EXPECT_DOUBLE_EQ(SoundSeconds(Silence(2.0)), 0.0);
    EXPECT_DOUBLE_EQ(SoundSeconds(Tone(2.0, 1)), 0.0);
    const Bytes padded = Joined({Silence(0.2), Tone(0.5, 30), Silence(0.3)});
    EXPECT_NEAR(SoundSeconds(padded), 0.5, 0.011);
    EXPECT_NEAR(LeadingSilenceSeconds(padded), 0.2, 0.011);
    EXPECT_NEAR(TrailingSilenceSeconds(padded), 0.3, 0.011);
}

// The shipped files.
TEST(SystemFiles, EveryRequiredFileIsPresentAndTheBuildPutsItBesideTheProgram) {
    for (const fs::path& dir : {kSystemDir, fs::path(TELVARA_BINARY_DIR) / "system"})
        for (const auto& name : RequiredNames())
            EXPECT_TRUE(fs::is_regular_file(dir / name)) << "missing " << (dir / name);
}

TEST(SystemFiles, EveryFileHasTheExactHeaderLayout) {
    const auto files = FilesIn(kSystemDir);
    EXPECT_GE(files.size(), RequiredNames().size());
    for (const auto& path : files) {
        EXPECT_TRUE(fs::is_regular_file(path)) << path;
        EXPECT_EQ(path.extension(), ".wav") << path;
        EXPECT_EQ(LayoutProblem(ReadAll(path)), "") << path;
    }
}

TEST(SystemFiles, EveryFileHoldsClearLevelledSound) {
    for (const auto& path : FilesIn(kSystemDir)) {
        const Bytes file = ReadAll(path);
        if (!LayoutProblem(file).empty()) continue;  // reported above
        const Bytes samples = Samples(file);
        EXPECT_GE(SoundSeconds(samples), 0.3) << path;
        // Normalised near full scale so it carries over a telephone line, not clipped.
        EXPECT_GE(PeakDeviation(samples), 90) << path;
        const auto clipped = std::count_if(samples.begin(), samples.end(),
                                           [](std::uint8_t s) { return s == 0 || s == 255; });
        EXPECT_LE(clipped, static_cast<long>(samples.size() / 1000)) << path;
        // Trimmed: a short natural pause at each end, no long stretch of nothing.
        EXPECT_LE(LeadingSilenceSeconds(samples), 0.3) << path;
        EXPECT_LE(TrailingSilenceSeconds(samples), 0.5) << path;
    }
}

TEST(SystemFiles, PiecesOfSpokenNumbersFollowEachOtherClosely) {
    for (const auto& name : PieceNames()) {
        const Bytes file = ReadAll(kSystemDir / name);
        if (!LayoutProblem(file).empty()) continue;
        const Bytes samples = Samples(file);
        EXPECT_LE(LeadingSilenceSeconds(samples), 0.1) << name;
        EXPECT_LE(TrailingSilenceSeconds(samples), 0.2) << name;
        EXPECT_LE(samples.size(), 2 * kRate) << name << " is too long for one word";
    }
}

TEST(SystemFiles, NoTwoFilesHoldTheSameRecording) {
    std::map<Bytes, fs::path> seen;
    for (const auto& path : FilesIn(kSystemDir)) {
        const Bytes file = ReadAll(path);
        if (!LayoutProblem(file).empty()) continue;
        const auto [it, fresh] = seen.emplace(Samples(file), path);
        EXPECT_TRUE(fresh) << path << " holds the same samples as " << it->second;
    }
}

TEST(SimulatorVoices, CallerVoiceIsSeveralSentencesInTheSameFormat) {
    ASSERT_TRUE(fs::is_regular_file(kVoicesDir / "caller.wav"));
    for (const auto& path : FilesIn(kVoicesDir)) {
        const Bytes file = ReadAll(path);
        ASSERT_EQ(LayoutProblem(file), "") << path;
        EXPECT_GE(SoundSeconds(Samples(file)), 3.0) << path;
        EXPECT_GE(PeakDeviation(Samples(file)), 90) << path;
    }
}

}  // namespace

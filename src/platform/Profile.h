#pragma once
// The program's INI profile (telvara.ini): [section] lines and key=value lines.
// Section and key names compare without regard to case; spaces around names and
// values are ignored; lines starting with ';' or '#' are comments. Every write
// rewrites the whole file atomically (temp file, fsync, rename) and keeps all other
// lines as they were. Engine thread only.
//
// An integer value reads as its leading number: optional spaces, an optional sign and
// the digits that follow ("12abc" reads 12, "-1" reads -1, a value beyond the int
// range reads as the nearest int); a value with no leading digits reads as the default.
#include <string>
#include <vector>

namespace telvara {

class Profile {
 public:
  Profile() = default;
  // Loads the file; a missing file is an empty profile. LoadError() says why a file
  // that exists could not be read.
  explicit Profile(std::string path);

  const std::string& Path() const { return path_; }
  const std::string& LoadError() const { return loadError_; }
  // The file named at construction did not exist.
  bool Missing() const { return missing_; }
  // The key is in the section (with any value, even an empty one).
  bool Has(const std::string& section, const std::string& key) const;

  int GetInt(const std::string& section, const std::string& key, int defaultValue) const;
  std::string GetString(const std::string& section, const std::string& key, const std::string& defaultValue) const;

  // False, with WriteError() saying why, when the file could not be written; the value
  // is kept in memory either way.
  bool WriteInt(const std::string& section, const std::string& key, int value);
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  const std::string& WriteError() const { return writeError_; }

  // Parses text as an integer by the rule above; false when there are no digits.
  static bool ParseLeadingInt(const std::string& text, int& out);

 private:
  bool Find(const std::string& section, const std::string& key, std::string& value) const;
  bool Save();

  std::string path_;
  std::vector<std::string> lines_;
  std::string loadError_;
  bool missing_ = false;
  std::string writeError_;
};

}  // namespace telvara

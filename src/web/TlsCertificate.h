#pragma once
// The certificate and key that the window is served with over HTTPS: PEM files the
// owner names, or a self-signed pair that Telvara makes once and keeps in the program
// directory (the key readable by its user only). Any thread.
#include <string>

namespace telvara {

struct TlsMaterial {
  std::string certificate;  // PEM
  std::string key;          // PEM
  std::string error;        // why there is none
  std::string notice;       // set when a pair was made
};

// Reads the two PEM files.
TlsMaterial LoadTlsFiles(const std::string& certificatePath, const std::string& keyPath);
// Reads `certificatePath` and `keyPath`, or makes a self-signed pair there (an ECDSA
// P-256 key; the certificate names localhost, this host and its addresses, for ten
// years) when either is missing.
TlsMaterial LoadOrMakeSelfSigned(const std::string& certificatePath, const std::string& keyPath);

}  // namespace telvara

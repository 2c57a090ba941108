#include "web/TlsCertificate.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/FileReplace.h"
#include "web/OwnAddresses.h"

namespace telvara {

namespace {

constexpr std::size_t kMaxPemBytes = 64 * 1024;

bool ReadPem(const std::string& path, std::string& into, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  into = text.str();
  if (into.size() > kMaxPemBytes || into.find("-----BEGIN ") == std::string::npos) {
    error = path + " is not a PEM file";
    return false;
  }
  return true;
}

// Owns what GnuTLS hands out.
struct Datum : gnutls_datum_t {
  Datum() : gnutls_datum_t{nullptr, 0} {}
  ~Datum() { gnutls_free(data); }
  std::string Text() const { return std::string(reinterpret_cast<const char*>(data), size); }
};

// Makes the pair, or says which step failed.
bool MakeSelfSigned(std::string& certificate, std::string& key, std::string& error) {
  gnutls_x509_privkey_t privateKey = nullptr;
  gnutls_x509_crt_t crt = nullptr;
  auto step = [&](int code, const char* what) {
    if (code < 0 && error.empty()) error = std::string(what) + ": " + gnutls_strerror(code);
    return code >= 0;
  };
  bool ok = step(gnutls_x509_privkey_init(&privateKey), "key") &&
            step(gnutls_x509_privkey_generate(privateKey, GNUTLS_PK_ECDSA,
                                              GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0),
                 "key") &&
            step(gnutls_x509_crt_init(&crt), "certificate");
  if (ok) {
    unsigned char serial[16];
    if (getrandom(serial, sizeof serial, 0) != sizeof serial) std::memset(serial, 1, sizeof serial);
    serial[0] &= 0x7f;  // a positive number
    char host[HOST_NAME_MAX + 1] = "localhost";
    gethostname(host, sizeof host);
    host[HOST_NAME_MAX] = '\0';
    std::time_t now = std::time(nullptr);
    ok = step(gnutls_x509_crt_set_version(crt, 3), "certificate") &&
         step(gnutls_x509_crt_set_serial(crt, serial, sizeof serial), "certificate") &&
         step(gnutls_x509_crt_set_activation_time(crt, now - 24 * 3600), "certificate") &&
         step(gnutls_x509_crt_set_expiration_time(crt, now + 10L * 365 * 24 * 3600), "certificate") &&
         step(gnutls_x509_crt_set_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0, host, std::strlen(host)),
              "certificate") &&
         step(gnutls_x509_crt_set_key(crt, privateKey), "certificate") &&
         step(gnutls_x509_crt_set_basic_constraints(crt, 0, -1), "certificate") &&
         step(gnutls_x509_crt_set_key_usage(crt, GNUTLS_KEY_DIGITAL_SIGNATURE), "certificate") &&
         step(gnutls_x509_crt_set_key_purpose_oid(crt, GNUTLS_KP_TLS_WWW_SERVER, 0), "certificate");
    for (const std::string& name : {std::string("localhost"), std::string(host)}) {
      ok = ok && step(gnutls_x509_crt_set_subject_alt_name(crt, GNUTLS_SAN_DNSNAME, name.data(), name.size(),
                                                           GNUTLS_FSAN_APPEND),
                      "certificate");
    }
    std::vector<std::string> addresses = OwnAddresses(true);
    addresses.insert(addresses.begin(), {"127.0.0.1", "::1"});
    for (const std::string& address : addresses) {
      unsigned char raw[16];
      bool v6 = address.find(':') != std::string::npos;
      if (inet_pton(v6 ? AF_INET6 : AF_INET, address.c_str(), raw) != 1) continue;
      ok = ok &&
           step(gnutls_x509_crt_set_subject_alt_name(crt, GNUTLS_SAN_IPADDRESS, raw, v6 ? 16 : 4, GNUTLS_FSAN_APPEND),
                "certificate");
    }
    Datum certificatePem, keyPem;
    ok = ok && step(gnutls_x509_crt_sign2(crt, crt, privateKey, GNUTLS_DIG_SHA256, 0), "signing") &&
         step(gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_PEM, &certificatePem), "certificate") &&
         step(gnutls_x509_privkey_export2(privateKey, GNUTLS_X509_FMT_PEM, &keyPem), "key");
    if (ok) {
      certificate = certificatePem.Text();
      key = keyPem.Text();
    }
  }
  if (crt) gnutls_x509_crt_deinit(crt);
  if (privateKey) gnutls_x509_privkey_deinit(privateKey);
  return ok;
}

}  // namespace

TlsMaterial LoadTlsFiles(const std::string& certificatePath, const std::string& keyPath) {
  TlsMaterial tls;
  if (!ReadPem(certificatePath, tls.certificate, tls.error) || !ReadPem(keyPath, tls.key, tls.error)) {
    tls.certificate.clear();
    tls.key.clear();
  }
  return tls;
}

TlsMaterial LoadOrMakeSelfSigned(const std::string& certificatePath, const std::string& keyPath) {
  if (access(certificatePath.c_str(), F_OK) == 0 && access(keyPath.c_str(), F_OK) == 0) {
    return LoadTlsFiles(certificatePath, keyPath);
  }
  TlsMaterial tls;
  if (!MakeSelfSigned(tls.certificate, tls.key, tls.error)) {
    tls.error = "cannot make a certificate: " + tls.error;
    return tls;
  }
  // The key first: a certificate without its key is never left behind.
  std::string error = ReplaceFile(keyPath, tls.key, false);
  if (error.empty()) error = ReplaceFile(certificatePath, tls.certificate, true);
  if (!error.empty()) {
    tls = TlsMaterial{};
    tls.error = "cannot keep the certificate: " + error;
    return tls;
  }
  tls.notice = "made a self-signed certificate for the window in " + certificatePath;
  return tls;
}

}  // namespace telvara

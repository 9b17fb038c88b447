#pragma once
// Detached Ed25519 signatures of the update files. The service signs each
// update file with its private key and serves the 64 raw signature bytes
// beside it as "Update/<file>.sig"; the program runs an update file only
// when that signature verifies against the public key built into it.
#include <string>

namespace vextal {

// The name of a file's detached signature beside it (the same name on the
// service and in the program).
inline constexpr const char* kSignatureSuffix = ".sig";

// Signs `data` with an Ed25519 private key in PEM form. False with a reason
// when the key is not a readable Ed25519 private key.
bool SignDetached(const std::string& data, const std::string& privateKeyPem, std::string& signature,
                  std::string& error);

// True only when `signature` is an Ed25519 signature of exactly `data` by
// the key `publicKeyPem` (PEM, SubjectPublicKeyInfo).
bool VerifyDetached(const std::string& data, const std::string& signature, const std::string& publicKeyPem);

// True when `pem` holds an Ed25519 private key (checked when a key is given
// on a command line, so a wrong file fails at start, not at the first request).
bool IsEd25519PrivateKey(const std::string& pem);

}  // namespace vextal

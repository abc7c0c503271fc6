#pragma once
// Whether a certificate and its key, as PEM text, make a TLS server: read
// at start so that a wrong file is a one-line refusal before any board's
// port is opened, not a failure deep in the HTTP library.

#include <string>

namespace relay::web {

// Empty when the pair serves; else why not, in one line.
std::string certificate_refusal(const std::string& cert_pem, const std::string& key_pem);

}  // namespace relay::web

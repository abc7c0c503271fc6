#include "web/certificate_check.h"

#include <gnutls/gnutls.h>

namespace relay::web {

std::string certificate_refusal(const std::string& cert_pem, const std::string& key_pem)
{
    gnutls_certificate_credentials_t credentials = nullptr;
    if (gnutls_certificate_allocate_credentials(&credentials) != GNUTLS_E_SUCCESS)
        return "cannot check the web page's certificate: out of memory";
    const gnutls_datum_t cert{reinterpret_cast<unsigned char*>(const_cast<char*>(cert_pem.data())),
                              static_cast<unsigned>(cert_pem.size())};
    const gnutls_datum_t key{reinterpret_cast<unsigned char*>(const_cast<char*>(key_pem.data())),
                             static_cast<unsigned>(key_pem.size())};
    // Checks each file's PEM and that the key belongs to the certificate.
    const int result = gnutls_certificate_set_x509_key_mem2(credentials, &cert, &key, GNUTLS_X509_FMT_PEM, nullptr, 0);
    gnutls_certificate_free_credentials(credentials);
    if (result >= 0)
        return {};
    return std::string("the web page's cert_file and key_file do not make a TLS server: ") + gnutls_strerror(result);
}

}  // namespace relay::web

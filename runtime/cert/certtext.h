// Name texts shared by the certificate units.
#pragma once

#include <openssl/types.h>

#include <string>

namespace qv::cert {

// "Label=value" items of a distinguished name joined by `separator`.
std::string NameText(const X509_NAME* name, const char* separator);

}  // namespace qv::cert

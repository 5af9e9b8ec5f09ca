#include "net/basic_credentials.h"

#include "net/base64_codec.h"

namespace fetchora {

std::string BasicCredentials(std::string_view user, std::string_view password)
{
    std::string plain;
    plain.reserve(user.size() + 1 + password.size());
    plain.append(user);
    plain += ':';
    plain.append(password);
    return Base64Codec().encode(plain);
}

}  // namespace fetchora

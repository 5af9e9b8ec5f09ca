#pragma once
// The credentials token of the Basic authorization scheme, written by the HTTP
// and RTSP clients after "Authorization: Basic " and by proxy requests after
// "Proxy-Authorization: Basic ".
//
// Thread: any; a pure function.
#include <string>
#include <string_view>

namespace fetchora {

// Base64 of user, ":" and password. An empty password still sends the user
// and the colon.
std::string BasicCredentials(std::string_view user, std::string_view password);

}  // namespace fetchora

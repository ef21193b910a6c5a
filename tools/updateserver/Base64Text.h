// Base64 (RFC 4648, standard alphabet, "=" padding): the form in which a build travels.
#pragma once

#include <string>

std::string Base64Text(const std::string& bytes);

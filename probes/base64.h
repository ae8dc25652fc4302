// Base64 over the standard alphabet (RFC 4648, no line breaks); no Windows headers.
#pragma once
#include <cstddef>
#include <string>

std::string Base64Encode(const unsigned char* data, size_t length);
// Reads characters while they belong to the alphabet: "=" or any other character ends the input.
std::string Base64Decode(const std::string& text);
// Hex digits as a bit string cut into base64 digits; 32 digits get the "==" of a 16-byte value.
std::string Md5HexToBase64(const std::string& hex);

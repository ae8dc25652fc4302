#include "probes/base64.h"

#include <cstring>

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int AlphabetIndex(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string Base64Encode(const unsigned char* data, size_t length) {
    std::string out;
    if (!data) return out;
    out.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < length; i += 3) {
        unsigned v = ((unsigned)data[i] << 16) | ((unsigned)data[i + 1] << 8) | data[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (length - i == 1) {
        unsigned v = (unsigned)data[i] << 16;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (length - i == 2) {
        unsigned v = ((unsigned)data[i] << 16) | ((unsigned)data[i + 1] << 8);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string Base64Decode(const std::string& text) {
    std::string out;
    unsigned acc = 0;
    int held = 0;
    for (char c : text) {
        int v = AlphabetIndex(c);
        if (v < 0) break;
        acc = (acc << 6) | (unsigned)v;
        if (++held == 4) {
            out += (char)((acc >> 16) & 0xFF);
            out += (char)((acc >> 8) & 0xFF);
            out += (char)(acc & 0xFF);
            acc = 0;
            held = 0;
        }
    }
    if (held == 2) {
        out += (char)((acc >> 4) & 0xFF);
    } else if (held == 3) {
        out += (char)((acc >> 10) & 0xFF);
        out += (char)((acc >> 2) & 0xFF);
    }
    return out;
}

std::string Md5HexToBase64(const std::string& hex) {
    std::string bits;
    for (char c : hex) {
        int v = HexValue(c);
        if (v < 0) v = 0;  // not a hex digit: counts as zero rather than shifting the rest
        for (int b = 3; b >= 0; --b) bits += (char)('0' + ((v >> b) & 1));
    }
    std::string out;
    for (size_t i = 0; i < bits.size(); i += 6) {
        int v = 0;
        for (size_t j = 0; j < 6; ++j) v = (v << 1) | (i + j < bits.size() && bits[i + j] == '1' ? 1 : 0);
        out += kAlphabet[v];
    }
    if (hex.size() == 32) out += "==";
    return out;
}

// One side of the jsoncpp differential target: compiled once against the stock library (its
// namespace renamed by -DJson=JsonStock, VD_DIFF_SIDE=StockSide) and once against our patched
// build (VD_DIFF_SIDE=PatchedSide). It parses with each reader we use and prints everything a
// caller can see: the outcome, the errors, every value with the bits of its numbers, and what the
// writers make of it.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <json/json.h>

namespace {

void Dump(const Json::Value& v, std::string& out) {
    char text[64];
    switch (v.type()) {
    case Json::nullValue: out += "n"; break;
    case Json::intValue: snprintf(text, sizeof text, "i%lld", (long long)v.asLargestInt()); out += text; break;
    case Json::uintValue: snprintf(text, sizeof text, "u%llu", (unsigned long long)v.asLargestUInt()); out += text; break;
    case Json::realValue: {
        const double d = v.asDouble();
        uint64_t bits;
        memcpy(&bits, &d, sizeof bits);
        snprintf(text, sizeof text, "r%016llx", (unsigned long long)bits);
        out += text;
        break;
    }
    case Json::stringValue: out += "s" + std::to_string(v.asString().size()) + ":" + v.asString(); break;
    case Json::booleanValue: out += v.asBool() ? "T" : "F"; break;
    case Json::arrayValue:
        out += "[";
        for (Json::ArrayIndex i = 0; i < v.size(); ++i) Dump(v[i], out), out += ",";
        out += "]";
        break;
    case Json::objectValue:
        out += "{";
        for (const std::string& key : v.getMemberNames()) out += key + "=", Dump(v[key], out), out += ",";
        out += "}";
        break;
    }
}

void Describe(bool ok, const std::string& errors, const Json::Value& root, std::string& out) {
    out += ok ? "ok\n" : "failed\n";
    out += errors + "\n";
    Dump(root, out);
    out += "\n" + Json::FastWriter().write(root) + Json::StyledWriter().write(root) + "\n";
}

}  // namespace

std::string VD_DIFF_SIDE(const uint8_t* data, size_t size) {
    std::string out;
    // held in a std::string, as every caller of ours holds its text: jsoncpp 1.9.5 reads the byte
    // after a document that ends in CR when it places an error (getLocationLineAndColumn), which
    // is then the string's terminating NUL
    const std::string doc(reinterpret_cast<const char*>(data), size);
    const char* begin = doc.data();
    try {
        for (int strict = 0; strict < 2; ++strict) {
            Json::CharReaderBuilder builder;
            if (strict) Json::CharReaderBuilder::strictMode(&builder.settings_);
            std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
            Json::Value root;
            std::string errors;
            const bool ok = reader->parse(begin, begin + size, &root, &errors);
            Describe(ok, errors, root, out);
        }
        Json::Reader old;
        Json::Value root;
        const bool ok = old.parse(begin, begin + size, root, false);
        Describe(ok, old.getFormattedErrorMessages(), root, out);
    } catch (const std::exception& e) {
        out += std::string("exception ") + e.what();
    }
    return out;
}

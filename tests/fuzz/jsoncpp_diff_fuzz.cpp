// Differential libFuzzer target: our jsoncpp build without string streams must read and write
// every document exactly as Debian's stock jsoncpp does (tests/e2e/test_skin_fuzz.py builds it).
#include <cstdint>
#include <cstdio>
#include <string>

std::string StockSide(const uint8_t* data, size_t size);
std::string PatchedSide(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string stock = StockSide(data, size);
    const std::string patched = PatchedSide(data, size);
    if (stock != patched) {
        fprintf(stderr, "stock:\n%s\npatched:\n%s\n", stock.c_str(), patched.c_str());
        __builtin_trap();
    }
    return 0;
}

// Telemetry records and codecs: the statistics text and its cipher, the behaviour record's JSON
// forms and the store file, without any server.
#include <gtest/gtest.h>

#include <string>

#include "probes/base64.h"
#include "telemetry/behaviorrecord.h"
#include "telemetry/encryptor.h"
#include "telemetry/staticsrecord.h"
#include "telemetry/telemetryutil.h"

using VdFoundationBehaviorGather::BehaviorHostFacts;
using VdFoundationBehaviorGather::CVdBehaviorGather;
using vdStaticsFoundation::CStatics;

namespace {

std::string Hex(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

BehaviorHostFacts Facts() {
    BehaviorHostFacts f;
    f.mac = "0A1B2C3D4E5F";
    f.ip = "203.0.113.7";
    f.version = "3.2.1.0";
    f.now = "2026-12-08 04:05:06";
    return f;
}

const char kRecordTail[] =
    "\"modelIndex\":\"0\",\"operateTime\":\"2026-12-08 04:05:06\",\"osversion\":\"\",\"phonenumber\":\"\","
    "\"searchKey\":\"\",\"serialnumber\":\"\",\"serialnumberex\":\"\",\"sourceModel\":\"0\",";

}  // namespace

TEST(StaticsRecord, JsonTextByteForByte) {
    CStatics s;
    s.SetExeName("vdInstaller.exe");
    s.SetInstallerName("pamo30");
    // no channel, no adapter: both members still present, empty; no "software"
    EXPECT_EQ("{\"channel\":\"\",\"exename\":\"vdInstaller.exe\",\"installername\":\"pamo30\",\"wifimac\":\"\"}",
              s.Serialize());

    s.SetChannel("biz-77");
    s.SetWifiMac("0A1B2C3D4E5F");
    s.SetSoftware("Vardo");
    EXPECT_EQ("{\"channel\":\"biz-77\",\"exename\":\"vdInstaller.exe\",\"installername\":\"pamo30\","
              "\"software\":\"Vardo\",\"wifimac\":\"0A1B2C3D4E5F\"}",
              s.Serialize());

    // values once set are not cleared through the interface
    s.SetChannel("");
    s.SetChannel(nullptr);
    EXPECT_EQ("biz-77", s.GetChannel());

    CStatics copy;
    copy.CopyFrom(s);
    EXPECT_EQ(s.Serialize(), copy.Serialize());

    // a UTF-8 file name survives as escaped text, not as mangled bytes
    CStatics named;
    named.SetExeName("\xE5\xAE\x89\xE8\xA3\x85.exe");  // "安装.exe"
    EXPECT_NE(std::string::npos, named.Serialize().find("\"exename\":\"\\u5b89\\u88c5.exe\""));

    // business content is code page 936 text, padded with NULs: it enters as UTF-8, cut at the NUL
    const std::string gbk("\xCE\xAC\xB4\xEF\0\xCE\xAC", 7);  // "维达", NUL, more
    EXPECT_EQ("\xE7\xBB\xB4\xE8\xBE\xBE", BizContentToUtf8(gbk));
    EXPECT_EQ("tok-1", BizContentToUtf8("tok-1"));
    CStatics biz;
    biz.SetChannel(BizContentToUtf8(gbk).c_str());
    EXPECT_NE(std::string::npos, biz.Serialize().find("\"channel\":\"\\u7ef4\\u8fbe\""));
}

TEST(StaticsRecord, TransportEncodingReplacesEveryPlus) {
    EXPECT_EQ("abc/def==", EncodeStaticsTransport("abc/def=="));
    EXPECT_EQ("a_@_b", EncodeStaticsTransport("a+b"));
    EXPECT_EQ("_@__@_x_@_", EncodeStaticsTransport("++x+"));
    EXPECT_EQ("", EncodeStaticsTransport(""));
}

// Expected bytes from `openssl enc -des-cbc -K 3577216824643632 -iv 713723766d33786b`.
TEST(StaticsCipher, MatchesOpensslForTheFixedKeyAndIv) {
    std::string cipher;
    ASSERT_TRUE(EncryptStaticsText("0123456789abcdef", cipher));
    EXPECT_EQ(24u, cipher.size());  // a whole padding block after 16 bytes
    EXPECT_EQ("8dc86573369602c53e10911eea335cf2fde6eb06d684c17b", Hex(cipher));

    ASSERT_TRUE(EncryptStaticsText("", cipher));
    EXPECT_EQ("05eae3a78631a3f8", Hex(cipher));

    // the whole transport form: cipher, base64, "+" replaced
    ASSERT_TRUE(EncryptStaticsText(
        "{\"channel\":\"\",\"exename\":\"a.exe\",\"installername\":\"pamo30\",\"wifimac\":\"\"}", cipher));
    EXPECT_EQ(72u, cipher.size());
    EXPECT_EQ("xTbn0ivxAJM_@_TgnPE2o6Elb28Un7zi/lUEgHORMUAyl96w2pYhQ3USWHN1N6Am0P//6BpN5DnsN_@_ZuDZEp4PrLmiIxTrtOpm",
              EncodeStaticsTransport(Base64Encode((const unsigned char*)cipher.data(), cipher.size())));

    // every length pads to the next whole block; repeated use gives the same bytes
    for (size_t n = 1; n <= 17; ++n) {
        std::string first, again;
        ASSERT_TRUE(EncryptStaticsText(std::string(n, 'x'), first));
        ASSERT_TRUE(EncryptStaticsText(std::string(n, 'x'), again));
        EXPECT_EQ(n + 8 - n % 8, first.size()) << n;
        EXPECT_EQ(first, again) << n;
    }
}

TEST(StaticsCipher, EncryptorRefusesShortKeysAndWorksAfterReinit) {
    Utilities::CEncryptor enc;
    std::string cipher;
    EXPECT_FALSE(enc.Init("short", "q7#vm3xk"));
    EXPECT_EQ(-1, enc.Encrypt("abc", 3, cipher));
    ASSERT_TRUE(enc.Init("5w!h$d62", "q7#vm3xk"));
    ASSERT_TRUE(enc.Init("5w!h$d62", "q7#vm3xk"));
    EXPECT_EQ(24, enc.Encrypt("0123456789abcdef", 16, cipher));
    EXPECT_EQ("8dc86573369602c53e10911eea335cf2fde6eb06d684c17b", Hex(cipher));
}

TEST(BehaviorRecord, PostTextHasEveryMemberInByteOrder) {
    CVdBehaviorGather r;
    r.SetModel("4010104");
    r.SetSucceed("2");
    r.SetErrorMessage("12.50");
    r.SetBusinessId(nullptr);
    std::string text = r.ToJsonText(Facts());
    EXPECT_EQ(std::string("{\"action\":\"PostPCOperateData\",\"ip\":\"203.0.113.7\",\"list\":[{\"businessId\":\"\","
                          "\"dataType\":\"\",\"deviceid\":\"0\",\"devicemodel\":\"\",\"errormessage\":\"12.50\","
                          "\"fromtype\":\"0\",\"memo\":\"\",\"model\":\"4010104\",") +
                  kRecordTail + "\"succeed\":\"2\",\"userId\":\"\",\"version\":\"3.2.1.0\"}],\"mac\":\"0A1B2C3D4E5F\"}\n",
              text);
    size_t first = text.find("\"fromtype\"");
    EXPECT_EQ(std::string::npos, text.find("\"fromtype\"", first + 1));

    // defaults: the first event, success
    CVdBehaviorGather d;
    EXPECT_EQ("4010101", d.GetModel());
    EXPECT_EQ("1", d.GetSucceed());
    d.SetModel("");
    EXPECT_EQ("4010101", d.GetModel());
}

TEST(BehaviorRecord, StoredRecordsRoundTripAndKeepTheirTime) {
    CVdBehaviorGather r;
    r.SetModel("4010105");
    r.SetSucceed("2");
    r.SetErrorMessage("Installing failure");
    r.SetBusinessId("biz-77");
    BehaviorHostFacts noIp = Facts();
    noIp.ip.clear();
    Json::Value roots(Json::arrayValue);
    Json::Value root(Json::objectValue);
    r.FillJson(root, noIp);
    roots.append(root);
    roots.append(root);

    std::string file = VdFoundationBehaviorGather::BehaviorStoreText(roots);
    EXPECT_EQ(0u, file.find("[\n   {\n      \"action\" : \"PostPCOperateData\",\n      \"ip\" : \"\",\n"));
    EXPECT_EQ("]\n\n", file.substr(file.size() - 3));

    Json::Value back;
    ASSERT_TRUE(VdFoundationBehaviorGather::ParseBehaviorStore(file, back));
    ASSERT_EQ(2u, back.size());
    CVdBehaviorGather loaded;
    loaded.FromJson(back[1]);
    EXPECT_EQ("4010105", loaded.GetModel());
    EXPECT_EQ("2", loaded.GetSucceed());
    EXPECT_EQ("Installing failure", loaded.GetErrorMessage());
    EXPECT_EQ("biz-77", loaded.GetBusinessId());
    EXPECT_EQ("3.2.1.0", loaded.GetVersion());
    EXPECT_EQ("2026-12-08 04:05:06", loaded.GetOperateTime());

    // a later send keeps the stored time and reports the running installer's version
    BehaviorHostFacts later = Facts();
    later.now = "2027-01-01 00:00:00";
    later.version = "3.3.0.0";
    std::string text = loaded.ToJsonText(later);
    EXPECT_NE(std::string::npos, text.find("\"operateTime\":\"2026-12-08 04:05:06\""));
    EXPECT_NE(std::string::npos, text.find("\"version\":\"3.3.0.0\""));

    CVdBehaviorGather copy;
    loaded.SetFromLocalStore(true);
    copy.CopyFrom(loaded);
    EXPECT_TRUE(copy.IsFromLocalStore());
    EXPECT_EQ(loaded.ToJsonText(later), copy.ToJsonText(later));
}

TEST(BehaviorRecord, HostileStoredRecordsAreReadWithoutFailing) {
    Json::Value root;
    ASSERT_TRUE(VdFoundationBehaviorGather::ParseBehaviorStore(
        "[{\"list\":[{\"model\":4010102,\"succeed\":true,\"operateTime\":{\"a\":1},\"version\":[1],"
        "\"errormessage\":null,\"businessId\":1.5}]},"
        " 7, \"text\", {\"list\":{}}, {\"list\":[]}, {\"list\":[3]}]",
        root));
    ASSERT_EQ(6u, root.size());
    CVdBehaviorGather r;
    r.FromJson(root[0]);
    EXPECT_EQ("4010102", r.GetModel());
    EXPECT_EQ("true", r.GetSucceed());
    EXPECT_EQ("", r.GetOperateTime());
    EXPECT_EQ("", r.GetVersion());
    EXPECT_EQ("", r.GetErrorMessage());
    EXPECT_EQ("1.5", r.GetBusinessId());
    for (Json::ArrayIndex i = 1; i < root.size(); ++i) {
        CVdBehaviorGather other;
        other.FromJson(root[i]);
        EXPECT_EQ("", other.GetModel()) << i;
    }
}

TEST(BehaviorRecord, StoreParserTakesOnlyArraysAndNull) {
    Json::Value v;
    EXPECT_TRUE(VdFoundationBehaviorGather::ParseBehaviorStore("null", v));
    EXPECT_TRUE(VdFoundationBehaviorGather::ParseBehaviorStore("[]", v));
    EXPECT_FALSE(VdFoundationBehaviorGather::ParseBehaviorStore("{\"list\":[]}", v));
    EXPECT_FALSE(VdFoundationBehaviorGather::ParseBehaviorStore("[{\"list\":[", v));
    EXPECT_FALSE(VdFoundationBehaviorGather::ParseBehaviorStore("", v));
    EXPECT_FALSE(VdFoundationBehaviorGather::ParseBehaviorStore(std::string(100000, '['), v));
    EXPECT_EQ("2026-01-02 03:04:05", VdFoundationBehaviorGather::FormatOperateTime(2026, 1, 2, 3, 4, 5));
}

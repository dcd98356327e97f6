// SNMPv3 request building: the octets of the discovery request and of the
// authenticated request, INTEGERs that stay non-negative under BER, keys from
// RFC 3414's vector, and refusals instead of overruns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "tests/netio/Messages.h"

namespace {

using testmsg::Bytes;
using testmsg::Cat;
using testmsg::Hex;

const char kDeviceIdOidText[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0";
const char* const kDeviceIdOids[] = {kDeviceIdOidText};
const uint8_t kNoKey[16] = {};

Bytes Out(const unsigned char* p, int n) { return n > 0 ? Bytes(p, p + n) : Bytes(); }

// INTEGER encodings: 1, 2 or 4 octets by magnitude, a 00 in front of a set top bit.
struct IntegerCase {
  uint32_t value;
  const char* octets;
};
const IntegerCase kIntegers[] = {
    {0, "02 01 00"},          {1, "02 01 01"},
    {127, "02 01 7F"},        {128, "02 02 00 80"},
    {200, "02 02 00 C8"},     {255, "02 02 00 FF"},
    {256, "02 02 01 00"},     {300, "02 02 01 2C"},
    {32767, "02 02 7F FF"},   {32768, "02 03 00 80 00"},
    {40000, "02 03 00 9C 40"}, {65535, "02 03 00 FF FF"},
    {70000, "02 04 00 01 11 70"}, {0x7FFFFFFF, "02 04 7F FF FF FF"},
    {0x80000000, "02 05 00 80 00 00 00"},
};

// The 57-octet discovery request for msgID m and request-id r below 128, with
// the two INTEGERs spliced in and every enclosing length grown to fit.
Bytes Discovery(const Bytes& msgId, const Bytes& requestId) {
  const int growM = int(msgId.size()) - 3, growR = int(requestId.size()) - 3;
  return Cat({Hex("30"), {uint8_t(0x37 + growM + growR)}, Hex("02 01 03 30"),
              {uint8_t(0x0D + growM)}, msgId,
              Hex("02 02 08 00 04 01 04 02 01 03 04 10 30 0E 04 00 02 01 00 02 01 00 04 00 04 00"
                  "04 00 30"),
              {uint8_t(0x11 + growR)}, Hex("04 00 04 00 A0"), {uint8_t(0x0B + growR)}, requestId,
              Hex("02 01 00 02 01 00 30 00")});
}

TEST(SnmpV3Build, DiscoveryRequest) {
  unsigned char out[kSnmpV3WorkSize];
  EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, out, sizeof out)),
            Hex("30 37 02 01 03 30 0D 02 01 00 02 02 08 00 04 01 04 02 01 03 04 10"
                "30 0E 04 00 02 01 00 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00"
                "A0 0B 02 01 00 02 01 00 02 01 00 30 00"));
  const size_t n = sizeof kIntegers / sizeof kIntegers[0];
  for (size_t i = 0; i < n; ++i) {
    const IntegerCase& m = kIntegers[i];
    const IntegerCase& r = kIntegers[(i + 5) % n];
    if (m.value > 0xFFFF || r.value > 0xFFFF) continue;
    const int size = CNetIO::BuildSnmpV3GetEngineIdPacket(uint16_t(r.value), uint16_t(m.value),
                                                          out, sizeof out);
    EXPECT_EQ(Out(out, size), Discovery(Hex(m.octets), Hex(r.octets)))
        << "msgID " << m.value << ", request-id " << r.value;
  }
  for (int size = 0; size <= 57; ++size) {
    auto exact = std::make_unique<unsigned char[]>(size_t(size));
    EXPECT_EQ(CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, exact.get(), size), size < 57 ? 0 : 57);
  }
  EXPECT_EQ(CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, nullptr, 2048), 0);
}

TEST(SnmpV3Build, SecurityParameters) {
  const Bytes engine = Hex("80 00 0B 93 01 02 03 04 05");
  unsigned char out[kSnmpV3WorkSize];
  for (const auto& t : kIntegers) {
    const int n = CNetIO::BuildSnmpV3msgSecurityParameters(
        engine.data(), int(engine.size()), 1, t.value, "abc", nullptr, nullptr, 0, out, nullptr);
    const Bytes usm = Cat({Hex("04 09 80 00 0B 93 01 02 03 04 05 02 01 01"), Hex(t.octets),
                           Hex("04 03 61 62 63 04 00 04 00")});
    EXPECT_EQ(Out(out, n), Cat({{0x04, uint8_t(usm.size() + 2), 0x30, uint8_t(usm.size())}, usm}))
        << "engine time " << t.value;
  }
  const Bytes salt = Hex("00 01 11 70 FF FF FF FF");
  uint32_t offset = 99;
  int n = CNetIO::BuildSnmpV3msgSecurityParameters(nullptr, 0, 0, 0, "u", "password",
                                                   salt.data(), 8, out, &offset);
  EXPECT_EQ(Out(out, n), Hex("04 25 30 23 04 00 02 01 00 02 01 00 04 01 75"
                             "04 0C 00 00 00 00 00 00 00 00 00 00 00 00"
                             "04 08 00 01 11 70 FF FF FF FF"));
  EXPECT_EQ(offset, 17u);
  const std::string user(130, 'u');
  n = CNetIO::BuildSnmpV3msgSecurityParameters(nullptr, 0, 0, 0, user.c_str(), nullptr, nullptr,
                                               0, out, nullptr);
  EXPECT_EQ(Out(out, n), Cat({Hex("04 81 94 30 81 91 04 00 02 01 00 02 01 00 04 81 82"),
                              Bytes(user.begin(), user.end()), Hex("04 00 04 00")}));
}

class SnmpV3Request : public ::testing::Test {
 protected:
  void SetUp() override {
    SNMPv3MsgID = 0;
    SNMPv3RequestID = 0;
    salt_low = 0;
  }
  // 17 octets: its device-ID scoped PDU is 61 octets, enciphered as 64.
  const Bytes engine17 = Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A");
  // RFC 3414 A.3.1: "maplesyrup" localised to this engine gives kMapleKey.
  const Bytes rfcEngine = Hex("00 00 00 00 00 00 00 00 00 00 00 02");
  const Bytes kMapleKey = Hex("52 6f 5e ed 9f cc e2 6f 89 64 c2 93 07 87 d8 2b");
  unsigned char authKey[16], privKey[16], out[kSnmpV3WorkSize];

  int Build(const Bytes& engine, uint32_t boots, uint32_t time, const char* user,
            const char* auth, const char* priv, const unsigned char* const* values = nullptr,
            const signed char* lens = nullptr, const unsigned char* tags = nullptr) {
    memset(authKey, 0xEE, sizeof authKey);
    memset(privKey, 0xEE, sizeof privKey);
    return CNetIO::BuildSnmpV3RequestPacket(engine.data(), int(engine.size()), boots, time, 1,
                                            kDeviceIdOids, values, lens, tags, user, auth, priv,
                                            authKey, privKey, out);
  }
};

TEST_F(SnmpV3Request, PlainRequestsAreExact) {
  SNMPv3MsgID = 255;
  SNMPv3RequestID = 256;
  int n = Build(engine17, 1, 300, "inkprobe", nullptr, nullptr);
  EXPECT_EQ(Out(out, n),
            Hex("30 7D 02 01 03"
                "30 0E 02 02 00 FF 02 02 08 00 04 01 04 02 01 03"
                "04 2A 30 28 04 11 80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A"
                "02 01 01 02 02 01 2C 04 08 69 6E 6B 70 72 6F 62 65 04 00 04 00"
                "30 3C 04 11 80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A 04 00"
                "A0 25 02 02 01 00 02 01 00 02 01 00 30 19 30 17 06 13"
                "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00"));
  EXPECT_EQ(SNMPv3MsgID, 256);
  EXPECT_EQ(SNMPv3RequestID, 257);
  EXPECT_EQ(salt_low, 0u);
  EXPECT_EQ(Bytes(authKey, authKey + 16), Bytes(kNoKey, kNoKey + 16));
  EXPECT_EQ(Bytes(privKey, privKey + 16), Bytes(kNoKey, kNoKey + 16));
  // With values it is a SetRequest.
  SNMPv3MsgID = SNMPv3RequestID = 0;
  const unsigned char text[] = {'h', 'i'};
  const unsigned char* const values[] = {text};
  const signed char lens[] = {2};
  const unsigned char tags[] = {0x04};
  n = Build({}, 0, 0, nullptr, nullptr, nullptr, values, lens, tags);
  EXPECT_EQ(Out(out, n),
            Hex("30 52 02 01 03 30 0D 02 01 00 02 02 08 00 04 01 04 02 01 03"
                "04 10 30 0E 04 00 02 01 00 02 01 00 04 00 04 00 04 00"
                "30 2C 04 00 04 00 A3 26 02 01 00 02 01 00 02 01 00 30 1B 30 19 06 13"
                "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 04 02 68 69"));
}

// The code over the whole message, recomputed from the key the builder left.
void ExpectSigned(Bytes msg, unsigned offset, const unsigned char* authKey) {
  EXPECT_TRUE(VerifyAuthParams(msg.data(), unsigned(msg.size()), offset, 12, authKey));
  msg.back() ^= 1;
  EXPECT_FALSE(VerifyAuthParams(msg.data(), unsigned(msg.size()), offset, 12, authKey))
      << "the last octet is covered too";
}

TEST_F(SnmpV3Request, AuthenticationOnlyKeepsThePduInPlaintext) {
  const int n = Build(rfcEngine, 1, 70000, "inkprobe", "maplesyrup", nullptr);
  const Bytes msg = Out(out, n);
  ASSERT_EQ(msg.size(), 129u);
  Bytes unsigned_ = msg;
  std::fill(unsigned_.begin() + 59, unsigned_.begin() + 71, 0);
  EXPECT_EQ(unsigned_,
            Hex("30 7F 02 01 03 30 0D 02 01 00 02 02 08 00 04 01 05 02 01 03"
                "04 33 30 31 04 0C 00 00 00 00 00 00 00 00 00 00 00 02 02 01 01"
                "02 04 00 01 11 70 04 08 69 6E 6B 70 72 6F 62 65"
                "04 0C 00 00 00 00 00 00 00 00 00 00 00 00 04 00"
                "30 36 04 0C 00 00 00 00 00 00 00 00 00 00 00 02 04 00"
                "A0 24 02 01 00 02 01 00 02 01 00 30 19 30 17 06 13"
                "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00"));
  EXPECT_EQ(Bytes(authKey, authKey + 16), kMapleKey);
  EXPECT_EQ(Bytes(privKey, privKey + 16), Bytes(kNoKey, kNoKey + 16));
  ExpectSigned(msg, 59, authKey);
}

TEST_F(SnmpV3Request, PrivacyEnciphersTheFilledUpScopedPdu) {
  salt_low = 0xFFFFFFFF;
  SNMPv3RequestID = 5;
  const int n = Build(engine17, 70000, 12, "inkprobe", "maplesyrup", "maplesyrup");
  const Bytes msg = Out(out, n);
  ASSERT_GT(n, 66);
  EXPECT_EQ(msg[17], 0x07) << "flags";
  EXPECT_EQ(salt_low, 0u);
  EXPECT_EQ(SNMPv3RequestID, 6);
  // msgPrivacyParameters: boots 70 000, then the salt_low in use, FF FF FF FF.
  const Bytes privacy = Hex("04 08 00 01 11 70 FF FF FF FF");
  const auto saltAt = std::search(msg.begin(), msg.end(), privacy.begin(), privacy.end());
  ASSERT_NE(saltAt, msg.end());
  // The 61-octet scoped PDU goes out as 04 40 and 64 ciphered octets, last in the message.
  const size_t dataAt = size_t(saltAt - msg.begin()) + privacy.size();
  ASSERT_EQ(msg.size(), dataAt + 66);
  EXPECT_EQ(msg[dataAt], 0x04);
  EXPECT_EQ(msg[dataAt + 1], 0x40);
  Bytes data(msg.begin() + long(dataAt) + 2, msg.end());
  ASSERT_EQ(DecryptMsgData(data.data(), 64, privKey, privacy.data() + 2), 1);
  EXPECT_EQ(data, Cat({Hex("30 3B 04 11"), engine17,
                       Hex("04 00 A0 24 02 01 05 02 01 00 02 01 00 30 19 30 17 06 13"
                           "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00"
                           "00 00 00")}));
  ExpectSigned(msg, unsigned(saltAt - msg.begin()) - 12, authKey);
}

TEST_F(SnmpV3Request, RefusesWhatItCannotBuild) {
  const Bytes engine33(33, 0x80);
  const unsigned char* const values[] = {reinterpret_cast<const unsigned char*>("x")};
  const signed char negative[] = {-1};
  const unsigned char tags[] = {0x04};
  const char* const badOids[] = {"1.3.six"};
  EXPECT_EQ(Build(engine33, 0, 0, "u", "maplesyrup", "maplesyrup"), 0) << "engine ID over 32";
  EXPECT_EQ(Build(engine17, 0, 0, "u", "", nullptr), 0) << "empty authentication password";
  EXPECT_EQ(Build(engine17, 0, 0, "u", "maplesyrup", ""), 0) << "empty privacy password";
  EXPECT_EQ(Build(engine17, 0, 0, "u", nullptr, nullptr, values, negative, tags), 0)
      << "negative value length";
  EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(engine17.data(), 17, 0, 0, 1, badOids, nullptr,
                                             nullptr, nullptr, "u", nullptr, nullptr, authKey,
                                             privKey, out),
            0);
  EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(engine17.data(), 17, 0, 0, 1, kDeviceIdOids, nullptr,
                                             nullptr, nullptr, "u", nullptr, nullptr, nullptr,
                                             privKey, out),
            0);
  // 15 bindings of 19-octet names and 127-octet values overrun the work area;
  // 13 fit the scoped PDU but not the whole message.
  std::vector<const char*> oids(15, kDeviceIdOidText);
  const unsigned char big[127] = {};
  std::vector<const unsigned char*> many(15, big);
  std::vector<signed char> lens(15, 127);
  std::vector<unsigned char> octetTags(15, 0x04);
  for (int count : {15, 13, 12}) {
    EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(engine17.data(), 17, 0, 0, count, oids.data(),
                                               many.data(), lens.data(), octetTags.data(), "u",
                                               "maplesyrup", "maplesyrup", authKey, privKey,
                                               out) > 0,
              count == 12) << count;
    if (count == 15) {
      EXPECT_EQ(salt_low, 0u) << "a salt used up for a refused message";
    }
  }
}

}  // namespace

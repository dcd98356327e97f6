// Our keys, HMAC and DES against net-snmp's own: snmpget sends an authPriv
// GET straight to a loopback socket of ours (engine ID given, so no
// discovery), and the captured datagram must verify and decipher here.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "env/TestEnv.h"
#include "netio/Usm.h"

namespace {

using Octets = std::vector<uint8_t>;

const char kUser[] = "usbinkv3";
const char kAuthPassword[] = "authpassword-20chars";
const char kPrivPassword[] = "privpassword-20chars";
const Octets kEngineID = {0x80, 0x00, 0x0B, 0x93, 0x03, 0x00, 0x11, 0x22, 0x33};
const Octets kDeviceIdOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0xBE, 0x0F, 0x86, 0x76,
                             0x82, 0x2C, 0x82, 0x71, 0xC2, 0x53, 0x01, 0x01, 0x00};

// One element header at `pos`, bounded by `end`; `pos` moves to its content.
bool Header(const Octets &m, size_t &pos, size_t end, uint8_t tag, size_t &len) {
  if (pos + 2 > end || m[pos] != tag) return false;
  size_t first = m[pos + 1];
  pos += 2;
  if (first < 0x80) {
    len = first;
  } else {
    size_t k = first & 0x7F;
    if (k == 0 || k > 2 || pos + k > end) return false;
    len = 0;
    while (k--) len = len << 8 | m[pos++];
  }
  return len <= end - pos;
}

struct Captured {
  Octets msg;
  size_t authOffset = 0, authLen = 0;
  Octets salt;
  size_t dataOffset = 0, dataLen = 0;
};

::testing::AssertionResult Dissect(Captured &c) {
  const Octets &m = c.msg;
  size_t pos = 0, len = 0, end = m.size();
  auto fail = [](const char *what) { return ::testing::AssertionFailure() << what; };
  if (!Header(m, pos, end, 0x30, len) || pos + len != end) return fail("message");
  if (!Header(m, pos, end, 0x02, len)) return fail("version");
  pos += len;
  if (!Header(m, pos, end, 0x30, len)) return fail("global data");
  pos += len;
  if (!Header(m, pos, end, 0x04, len)) return fail("security parameters");
  size_t secEnd = pos + len;
  if (!Header(m, pos, secEnd, 0x30, len)) return fail("usm sequence");
  const uint8_t tags[] = {0x04, 0x02, 0x02, 0x04};  // engine ID, boots, time, user
  for (uint8_t tag : tags) {
    if (!Header(m, pos, secEnd, tag, len)) return fail("usm field");
    pos += len;
  }
  if (!Header(m, pos, secEnd, 0x04, c.authLen)) return fail("auth");
  c.authOffset = pos;
  pos += c.authLen;
  if (!Header(m, pos, secEnd, 0x04, len)) return fail("salt");
  c.salt.assign(m.begin() + pos, m.begin() + pos + len);
  pos += len;
  if (!Header(m, pos, end, 0x04, c.dataLen)) return fail("msgData");
  c.dataOffset = pos;
  return ::testing::AssertionSuccess();
}

TEST(UsmNetSnmp, AuthPrivRequestVerifiesAndDeciphers) {
  std::string snmpget = testenv::FindProgram("snmpget");
  REQUIRE_ENV(!snmpget.empty(), "snmpget (package snmp) is not installed");

  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  socklen_t addrLen = sizeof addr;
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &addrLen), 0);

  testenv::TempDir home;
  std::string engineHex = "0x";
  for (uint8_t b : kEngineID) {
    engineHex += "0123456789ABCDEF"[b >> 4];
    engineHex += "0123456789ABCDEF"[b & 15];
  }
  // One try with a 1-second time-out: the datagram waits in our socket.
  testenv::RunResult r = testenv::Run(
      {snmpget, "-v3", "-l", "authPriv", "-u", kUser, "-a", "MD5", "-A", kAuthPassword, "-x",
       "DES", "-X", kPrivPassword, "-e", engineHex, "-r", "0", "-t", "1",
       "udp:127.0.0.1:" + std::to_string(ntohs(addr.sin_port)),
       "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0"},
      {"HOME=" + home.path(), "SNMPCONFPATH=" + home.path(),
       "SNMP_PERSISTENT_DIR=" + home.path(), "MIBS="},
      std::chrono::seconds(10));
  ASSERT_FALSE(r.timedOut) << r.err;

  Captured c;
  c.msg.resize(2048);
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ssize_t n = recv(fd, c.msg.data(), c.msg.size(), 0);
  close(fd);
  ASSERT_GT(n, 0) << "snmpget sent nothing: " << r.err;
  c.msg.resize(size_t(n));
  ASSERT_TRUE(Dissect(c));
  ASSERT_EQ(c.authLen, 12u);
  ASSERT_EQ(c.salt.size(), 8u);

  const unsigned engineLen = unsigned(kEngineID.size());
  uint8_t authKey[16], privKey[16];
  ASSERT_TRUE(Password_to_Key_md5(kAuthPassword, 20, kEngineID.data(), engineLen, authKey));
  ASSERT_TRUE(Password_to_Key_md5(kPrivPassword, 20, kEngineID.data(), engineLen, privKey));

  const unsigned msgLen = unsigned(c.msg.size()), authOffset = unsigned(c.authOffset);
  Octets copy = c.msg;
  EXPECT_FALSE(VerifyAuthParams(copy.data(), msgLen, authOffset, 12, privKey));
  EXPECT_TRUE(VerifyAuthParams(c.msg.data(), msgLen, authOffset, 12, authKey));

  uint8_t *data = c.msg.data() + c.dataOffset;
  ASSERT_EQ(DecryptMsgData(data, unsigned(c.dataLen), privKey, c.salt.data()), 1);
  Octets plain(data, data + c.dataLen);
  size_t pos = 0, len = 0;
  ASSERT_TRUE(Header(plain, pos, plain.size(), 0x30, len)) << "scopedPDU";
  ASSERT_TRUE(Header(plain, pos, plain.size(), 0x04, len)) << "contextEngineID";
  EXPECT_EQ(Octets(plain.begin() + pos, plain.begin() + pos + len), kEngineID);
  EXPECT_NE(std::search(plain.begin(), plain.end(), kDeviceIdOid.begin(), kDeviceIdOid.end()),
            plain.end());
}

}  // namespace

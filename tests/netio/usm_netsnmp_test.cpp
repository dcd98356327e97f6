// Our keys, HMAC and DES against net-snmp's own: snmpget sends an authPriv
// GET straight to a loopback socket of ours (engine ID given, so no
// discovery), and the captured datagram must verify and decipher here.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "env/TestEnv.h"
#include "netio/BerReader.h"
#include "netio/Usm.h"
#include "tests/netio/SnmpV3Messages.h"

namespace {

using netio::BerReader;
using snmpv3test::Bytes;

const char kAuthPassword[] = "authpassword-20chars";
const char kPrivPassword[] = "privpassword-20chars";
const char kEngineHex[] = "80000B9303001122334455";

TEST(UsmNetSnmp, AuthPrivRequestVerifiesAndDeciphers) {
  const std::string snmpget = testenv::FindProgram("snmpget");
  REQUIRE_ENV(!snmpget.empty(), "snmpget (package snmp) is not installed");
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t addrLen = sizeof addr;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &addrLen), 0);

  // One try with a 1-second time-out: the datagram waits in our socket.
  testenv::TempDir home;
  const testenv::RunResult r = testenv::Run(
      {snmpget, "-v3", "-l", "authPriv", "-u", "usbinkv3", "-a", "MD5", "-A", kAuthPassword,
       "-x", "DES", "-X", kPrivPassword, "-e", std::string("0x") + kEngineHex, "-r", "0", "-t",
       "1", "udp:127.0.0.1:" + std::to_string(ntohs(addr.sin_port)),
       "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0"},
      {"HOME=" + home.path(), "SNMPCONFPATH=" + home.path(),
       "SNMP_PERSISTENT_DIR=" + home.path(), "MIBS="},
      std::chrono::seconds(10));
  ASSERT_FALSE(r.timedOut) << r.err;
  Bytes msg(2048);
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const ssize_t n = recv(fd, msg.data(), msg.size(), 0);
  close(fd);
  ASSERT_GT(n, 0) << "snmpget sent nothing: " << r.err;
  msg.resize(size_t(n));

  BerReader whole(msg.data(), msg.size()), m, skip, security, usm, auth, salt, data;
  ASSERT_TRUE(whole.Element(0x30, &m) && m.Element(0x02, &skip) && m.Element(0x30, &skip) &&
              m.Element(0x04, &security) && security.Element(0x30, &usm) &&
              usm.Element(0x04, &skip) && usm.Element(0x02, &skip) && usm.Element(0x02, &skip) &&
              usm.Element(0x04, &skip) && usm.Element(0x04, &auth) && usm.Element(0x04, &salt) &&
              m.Element(0x04, &data));
  ASSERT_EQ(auth.remaining(), 12u);
  ASSERT_EQ(salt.remaining(), 8u);

  const Bytes engine = snmpv3test::Hex(kEngineHex);
  uint8_t authKey[16], privKey[16];
  ASSERT_TRUE(Password_to_Key_md5(kAuthPassword, 20, engine.data(), unsigned(engine.size()), authKey));
  ASSERT_TRUE(Password_to_Key_md5(kPrivPassword, 20, engine.data(), unsigned(engine.size()), privKey));
  const unsigned authOffset = unsigned(auth.cursor() - msg.data());
  Bytes copy = msg;
  EXPECT_FALSE(VerifyAuthParams(copy.data(), unsigned(n), authOffset, 12, privKey));
  EXPECT_TRUE(VerifyAuthParams(msg.data(), unsigned(n), authOffset, 12, authKey));

  uint8_t* cipher = msg.data() + (data.cursor() - msg.data());
  ASSERT_EQ(DecryptMsgData(cipher, unsigned(data.remaining()), privKey, salt.cursor()), 1);
  BerReader plain(cipher, data.remaining()), scoped, contextEngine;
  ASSERT_TRUE(plain.Element(0x30, &scoped) && scoped.Element(0x04, &contextEngine));
  EXPECT_EQ(Bytes(contextEngine.cursor(), contextEngine.end()), engine);
  const Bytes oid = snmpv3test::DeviceIdOid();
  EXPECT_NE(std::search(scoped.cursor(), scoped.end(), oid.begin(), oid.end()), scoped.end());
}

}  // namespace

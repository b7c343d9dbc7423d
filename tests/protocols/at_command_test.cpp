// AT command lines and reply parsing, byte for byte: where a reply ends, echo and final result
// line checks in the reply styles of real modems, value extraction, trimming, and replies that
// would not fit the value buffer.
#include "protocols/at_command.h"

#include <gtest/gtest.h>

#include <string>

namespace vornex {
namespace {

struct Parsed {
  std::int32_t ok = 1;
  std::int32_t size = 0;
  std::string value;
};

Parsed Parse(std::string_view command, std::string_view reply, std::int32_t valueSize = 128) {
  const TAtCommand at(command);
  std::string value(static_cast<std::size_t>(valueSize), '\x55');
  Parsed parsed;
  parsed.size = valueSize;
  ParseAtReply(at, reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size(),
               reinterpret_cast<std::uint8_t*>(value.data()), &parsed.size, &parsed.ok);
  parsed.value = value.c_str();
  return parsed;
}

TEST(AtCommand, NameAndParameterOfACommandLine) {
  const TAtCommand diagOff("AT+MDPARA=DIAG,OFF");
  EXPECT_EQ(diagOff.name, "MDPARA");
  EXPECT_EQ(diagOff.parameter, "DIAG,OFF");
  EXPECT_EQ(diagOff.fullLine, "AT+MDPARA=DIAG,OFF\r");
  EXPECT_EQ(diagOff.line.back(), 0x0D);

  const TAtCommand version("AT+MDVER");
  EXPECT_EQ(version.name, "MDVER");
  EXPECT_TRUE(version.parameter.empty());

  const TAtCommand echo("ATE1");
  EXPECT_TRUE(echo.name.empty());
  EXPECT_TRUE(echo.parameter.empty());
  EXPECT_EQ(echo.fullLine, "ATE1\r");
}

TEST(AtCommand, CommandsBeyondTheRecordWidthsDoNotFit) {
  EXPECT_TRUE(TAtCommand("AT+NEWMEID=A0000012345678").Fits());
  EXPECT_TRUE(TAtCommand("AT+ABCDEFGH").Fits());    // 8-character name
  EXPECT_FALSE(TAtCommand("AT+ABCDEFGHI").Fits());  // 9-character name
  EXPECT_FALSE(TAtCommand("AT+NEWSN=" + std::string(243, '1')).Fits());
  EXPECT_TRUE(TAtCommand("AT+NEWSN=" + std::string(242, '1')).Fits());
}

TEST(AtReply, EchoAndOkAreRequired) {
  EXPECT_EQ(Parse("ATE1", "ATE1\r\r\nOK\r\n").ok, 1);
  EXPECT_EQ(Parse("ATE1", "OK\r\n").ok, 0);                       // no echo
  EXPECT_EQ(Parse("AT+MDVER", "AT+MDVER\r\r\nERROR\r\n").ok, 0);  // no OK
  // "OK" only inside the echo passes the first test, then lacks the result code.
  EXPECT_EQ(Parse("AT+BOOK", "AT+BOOK\r\r\nERROR\r\n").ok, 0);
  EXPECT_EQ(Parse("AT+BOOK", "AT+BOOK\r\r\nOK\r\n").ok, 1);
}

TEST(AtReply, ValueIsTheTextBetweenPrefixAndOk) {
  const Parsed version = Parse("AT+MDVER", "AT+MDVER\r\r\n+MDVER: V1.2.3B\r\n\r\nOK\r\n");
  EXPECT_EQ(version.ok, 1);
  EXPECT_EQ(version.value, "V1.2.3B");
  EXPECT_EQ(version.size, 7);

  // Without the prefix the value is whatever printable text remains.
  EXPECT_EQ(Parse("AT+NEWSN", "AT+NEWSN\r\r\n12345\r\nOK\r\n").value, "12345");
  // A command without '+' has no value.
  EXPECT_EQ(Parse("ATE1", "ATE1\r\r\nOK\r\n").size, 0);
  // Bytes from 0x80 up are ordinary characters; DEL is a control character.
  EXPECT_EQ(Parse("AT+NEWSN",
                  "AT+NEWSN\r\r\n+NEWSN: A\xE9\x7F"
                  "B\r\nOK\r\n")
                .value,
            "A\xE9"
            "B");
}

TEST(AtReply, BlankValueIsEmptyAndBlanksAreTrimmed) {
  const Parsed blank = Parse("AT+MDTFLAG", "AT+MDTFLAG\r\r\n+MDTFLAG:    \r\nOK\r\n");
  EXPECT_EQ(blank.ok, 1);
  EXPECT_EQ(blank.size, 0);
  EXPECT_EQ(blank.value, "");
  EXPECT_EQ(Parse("AT+MDTFLAG", "AT+MDTFLAG\r\r\n+MDTFLAG:  1 0  \r\nOK\r\n").value, "1 0");
}

TEST(AtReply, AnOkInsideTheValueIsKept) {
  // The result code is the last "OK"; a serial number containing "OK" survives intact.
  const Parsed serial = Parse("AT+NEWSN", "AT+NEWSN\r\r\n+NEWSN: BOOK123\r\n\r\nOK\r\n");
  EXPECT_EQ(serial.ok, 1);
  EXPECT_EQ(serial.value, "BOOK123");
}

TEST(AtReply, OnlyTheFinalLineIsTheResult) {
  const struct {
    const char* reply;
    std::int32_t ok;
    const char* value;
  } cases[] = {
      {"AT+NEWSN\r\r\n+NEWSN: OKAY\r\n\r\nOK\r\n", 1, "OKAY"},
      {"AT+NEWSN\r\r\nERROR42\r\nOK\n", 1, "ERROR42"},
      {"AT+NEWSN\r\r\n+NEWSN: OK\r\n\r\nERROR\r\n", 0, ""},
      {"AT+NEWSN\r\r\n+NEWSN: BOOK123\r\n", 0, ""},        // cut off before the final line
      {"AT+NEWSN\r\r\n+NEWSN: BOOK123\r\n\r\nOK", 0, ""},  // or inside it
      {"\r\n+NEWSN: BOOK123\r\n\r\nOK\r\n", 0, ""},        // no echo
  };
  for (const auto& c : cases) {
    const Parsed parsed = Parse("AT+NEWSN", c.reply);
    EXPECT_EQ(parsed.ok, c.ok) << c.reply;
    EXPECT_EQ(parsed.value, c.value) << c.reply;
  }
}

TEST(AtReply, EveryReplyStyleEndsAtItsFirstFinalLineAfterTheEcho) {
  // `head` runs up to the end of the final line's first line-end byte; the reply is whole from
  // there on, whatever of `tail` (the rest that the modem sends) a read took in as well.
  const struct {
    const char* command;
    std::string head;
    std::string tail;
    std::int32_t ok;
    const char* value;
  } cases[] = {
      {"AT+NEWSN", "AT+NEWSN\r\r\n+NEWSN: VX1\r\n\r\nOK\r", "\n", 1, "VX1"},
      {"AT+NEWMEID", "AT+NEWMEID\r\r\nERROR\r", "\n", 0, ""},
      {"AT+NEWMEID", "AT+NEWMEID\r\r\n+CME ERROR: 10\r", "\n", 0, ""},
      {"AT+NEWMEID", "AT+NEWMEID\r\r\n+CMS ERROR: 500\r", "\n", 0, ""},
      {"AT+NEWMEID", "AT+NEWMEID\r\r\nNO CARRIER\r", "\n", 0, ""},
      // An unsolicited result or an empty line after the final line.
      {"AT+NEWSN", "AT+NEWSN\r\r\n+NEWSN: VX1\r\n\r\nOK\r", "\n\r\n+CREG: 1\r\n", 1, "VX1"},
      {"AT+NEWSN", "AT+NEWSN\r\r\n+NEWSN: VX1\r\n\r\nOK\r", "\n\r\n", 1, "VX1"},
      // Lines ended by CR alone, or by LF alone.
      {"AT+NEWSN", "AT+NEWSN\r\r+NEWSN: VX1\r\rOK\r", "", 1, "VX1"},
      {"AT+NEWMEID", "AT+NEWMEID\r\r+CME ERROR: 10\r", "", 0, ""},
      {"AT+NEWSN", "AT+NEWSN\r\n+NEWSN: VX1\n\nOK\n", "", 1, "VX1"},
      // Result texts inside a value or the echo, and a stale result before the echo.
      {"AT+NEWSN", "AT+NEWSN\r\r\n+NEWSN: OK\r\n\r\nOK\r", "\n", 1, "OK"},
      {"AT+NEWSN=OK", "AT+NEWSN=OK\r\r\nOK\r", "\n", 1, ""},
      {"AT+NEWSN=ERROR", "AT+NEWSN=ERROR\r\r\nERROR\r", "\n", 0, ""},
      {"AT+NEWSN", "OK\r\nAT+NEWSN\r\r\n+NEWSN: VX1\r\n\r\nOK\r", "\n", 1, "VX1"},
  };
  for (const auto& c : cases) {
    const std::string reply = c.head + c.tail;
    SCOPED_TRACE(reply);
    const TAtCommand at(c.command);
    // Read in pieces cut anywhere, the reply ends exactly once the head has come.
    for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
      const std::string received = reply.substr(0, cut);
      ASSERT_EQ(AtReplyComplete(at.fullLine, received), cut >= c.head.size()) << cut;
      if (cut < c.head.size()) continue;
      const Parsed parsed = Parse(c.command, received);
      EXPECT_EQ(parsed.ok, c.ok) << cut;
      EXPECT_EQ(parsed.value, c.value) << cut;
    }
  }
}

TEST(AtReply, WithoutValueBufferOnlyOkIsChecked) {
  const TAtCommand at("AT+MDVER");
  const std::string reply = "OK\r\n";  // no echo, but nothing to extract
  std::int32_t size = 0;
  std::int32_t ok = 1;
  ParseAtReply(at, reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size(), nullptr,
               &size, &ok);
  EXPECT_EQ(ok, 1);
}

TEST(AtReply, ReplyWithoutTerminatorAndOverlongValuesStayInsideTheBuffers) {
  // 128 received bytes without a zero byte: the text ends at the given length.
  std::string reply = "AT+NEWSN\r\r\n+NEWSN:";
  reply += std::string(128 - reply.size() - 6, 'X');
  reply += "\r\nOK\r\n";
  ASSERT_EQ(reply.size(), 128u);
  const Parsed full = Parse("AT+NEWSN", reply);
  EXPECT_EQ(full.ok, 1);
  EXPECT_EQ(full.value, std::string(128 - 18 - 6, 'X'));

  // A value longer than the buffer keeps its terminator: size - 1 characters at most.
  const Parsed small = Parse("AT+NEWSN", "AT+NEWSN\r\r\n+NEWSN: ABCDEFGHIJ\r\nOK\r\n", 5);
  EXPECT_EQ(small.ok, 1);
  EXPECT_EQ(small.value, "ABCD");
  EXPECT_EQ(small.size, 4);
}

}  // namespace
}  // namespace vornex

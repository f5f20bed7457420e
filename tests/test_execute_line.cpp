// Line execution: person records written through the encoder are read back
// from a simulated terminal and decoded into the same codes; the block
// reception, the dump file and the bookkeeping around a data command.

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include "link/Coding.h"
#include "link/Cp1250.h"
#include "requests/LineExecution.h"
#include "support/LinkFixture.h"
#include "support/PtyPair.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

namespace {

// Code alphabets in code order, without and with MealCoding.
const std::string kAlphabetPlain = "*N01A2B3C4D5E6F7G8H";
const std::string kAlphabetCoded = "*01A2B3C4D5E6F7G8H";

struct Person {
  char letter;  // 'R' or 'Q'
  int number;
  std::string ident;    // 4 bytes, shown in hex
  std::string further;  // 4 bytes, not shown
  char flag;
  std::string main, breakfast, dinner;           // days 1-14, as sent
  std::string main2, breakfast2, dinner2;        // days 15-28 when not empty
  std::string expectMain, expectBreakfast, expectDinner, expectMain2, expectBreakfast2, expectDinner2;
};

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", c);
    out += digits;
  }
  return out;
}

// The request line of a person; a long one carries days 15-28 in columns 56-97.
std::string RequestLine(const Person& p) {
  char number[8];
  std::snprintf(number, sizeof number, "%04d", p.number);
  std::string line = std::string(1, p.letter) + number + p.ident + p.further + p.flag + p.main + p.breakfast + p.dinner;
  if (!p.main2.empty()) line += p.main2 + p.breakfast2 + p.dinner2;
  line += "NOVAK JAN     ";
  if (p.letter == 'Q') line += "K+00150";
  return line;
}

// A line of 98 or more characters goes out as the record and its continuation.
std::vector<std::string> Commands(const std::string& line) {
  if (line.size() < 98) return {line};
  const char continuation = static_cast<char>(line[0] == 'Q' ? 'q' : 'r');
  return {line.substr(0, 56) + line.substr(98), std::string(1, continuation) + line.substr(1, 13) + line.substr(56)};
}

std::string ExpectedLine(const Person& p) {
  char number[8];
  std::snprintf(number, sizeof number, "%04d", p.number);
  std::string line = std::string(1, p.letter) + number + Hex(p.ident) + p.flag + p.expectMain + p.expectBreakfast +
                     p.expectDinner;
  if (!p.main2.empty()) line += p.expectMain2 + p.expectBreakfast2 + p.expectDinner2;
  return line;
}

// Random codes that a day byte can hold with the current settings; `expect`
// gets what decoding gives back ('N' reads back as '*' with MealCoding).
void RandomDays(std::mt19937& random, int digit, std::string& sent, std::string& expect) {
  const LinkSettings& s = Settings();
  const std::string& alphabet = s.MealCoding ? kAlphabetCoded : kAlphabetPlain;
  // A main-meal digit must leave the packed byte below 256.
  const int limit = digit == 0 ? std::min<int>(256 / (s.BreakfastCount * s.DinnerCount), alphabet.size())
                    : digit == 1 ? s.BreakfastCount
                                 : s.DinnerCount;
  sent.clear();
  expect.clear();
  for (int day = 0; day < 14; ++day) {
    const int code = std::uniform_int_distribution<int>(0, limit - 1)(random);
    const bool sendN = s.MealCoding && code == 0 && day % 2 == 1;
    sent += sendN ? 'N' : alphabet[code];
    expect += alphabet[code];
  }
}

Person RandomPerson(std::mt19937& random, char letter, int number, bool longLine, bool rawDays) {
  Person p{letter, number, "", "", 'A', "", "", "", "", "", "", "", "", "", "", "", ""};
  for (int i = 0; i < 4; ++i) p.ident += static_cast<char>(std::uniform_int_distribution<int>(1, 255)(random));
  p.further = "abcd";
  p.flag = static_cast<char>('A' + number % 26);
  if (rawDays) {
    p.flag = static_cast<char>(0xC1);
    for (int i = 0; i < 14; ++i) p.main += static_cast<char>(std::uniform_int_distribution<int>(1, 255)(random));
    p.breakfast = std::string(14, '9');  // not read for raw days
    p.dinner = std::string(14, '9');
    p.expectMain = p.main;
    p.expectBreakfast = p.expectDinner = std::string(14, '*');
    return p;
  }
  RandomDays(random, 0, p.main, p.expectMain);
  RandomDays(random, 1, p.breakfast, p.expectBreakfast);
  RandomDays(random, 2, p.dinner, p.expectDinner);
  if (longLine) {
    RandomDays(random, 0, p.main2, p.expectMain2);
    RandomDays(random, 1, p.breakfast2, p.expectBreakfast2);
    RandomDays(random, 2, p.dinner2, p.expectDinner2);
  }
  return p;
}

struct Coding {
  bool mealCoding;
  int breakfasts;
  int dinners;
  bool useDT;
};

}  // namespace

class RoundTrip : public LinkFixture, public ::testing::WithParamInterface<Coding> {};

TEST_P(RoundTrip, RecordsReadBackWithTheCodesThatWereSent) {
  const Coding coding = GetParam();
  Settings().MealCoding = coding.mealCoding;
  Settings().BreakfastCount = coding.breakfasts;
  Settings().DinnerCount = coding.dinners;
  Settings().UseDT = coding.useDT;
  Settings().AnswerBufferSize = Settings().Capacity * (coding.useDT ? 29 : 24);
  SimOptions options;
  options.Pacing = false;
  options.Dt = coding.useDT;
  StartLine({{4, false}}, options);
  TOrveta& t = Terminal(4);
  RecordingDisplay display;
  t.Display = &display;
  ASSERT_TRUE(t.TestLink());

  std::mt19937 random(20261207u + coding.breakfasts * 10 + coding.dinners);
  const std::vector<Person> persons = {
      RandomPerson(random, 'R', 12, false, false),   RandomPerson(random, 'Q', 7, false, false),
      RandomPerson(random, 'R', 4321, true, false),  RandomPerson(random, 'Q', 9999, true, false),
      RandomPerson(random, 'R', 300, false, true),   RandomPerson(random, 'Q', 1, false, false),
  };
  for (const Person& p : persons) {
    for (const std::string& command : Commands(RequestLine(p))) {
      ASSERT_TRUE(ExecuteLine(t, command).Counted()) << command;
    }
  }

  for (const char* query : {"P", "Y"}) {
    const LineResult result = ExecuteLine(t, query);
    ASSERT_TRUE(result.Counted());
    std::vector<Person> expected;
    std::copy_if(persons.begin(), persons.end(), std::back_inserter(expected),
                 [&](const Person& p) { return query[0] == 'P' || p.letter == 'Q'; });
    std::sort(expected.begin(), expected.end(), [](const Person& a, const Person& b) { return a.number < b.number; });
    ASSERT_EQ(result.Lines.size(), expected.size()) << query;
    int records = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
      std::string got = result.Lines[i];
      if (coding.useDT) {
        ASSERT_GE(got.size(), 10u);
        const std::string dt = got.substr(got.size() - 10);
        EXPECT_EQ(dt.find_first_not_of("0123456789"), std::string::npos) << dt;  // BCD date and time
        got.resize(got.size() - 10);
      }
      EXPECT_EQ(got, ExpectedLine(expected[i])) << query << " person " << expected[i].number;
      records += expected[i].main2.empty() ? 1 : 2;
    }
    EXPECT_EQ(result.RecordCount, records);
  }
}

INSTANTIATE_TEST_SUITE_P(Codings, RoundTrip,
                         ::testing::Values(Coding{true, 4, 6, false}, Coding{false, 4, 6, false},
                                           Coding{true, 3, 5, true}, Coding{false, 2, 9, true}));

// Blocks played by hand: a slave terminal that acknowledges the next frame and
// sends a chosen block after it.
class BlockReception : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings() = LinkSettings{};
    Settings().TxTurnaroundUs = 100;
    Settings().RxTurnaroundUs = 100;
    SetStartDirectory(directory_);
    SetComDevicePath(0, pty_.SlavePath());
  }
  void TearDown() override {
    if (player_.joinable()) player_.join();
    SetComDevicePath(0, "/dev/ttyS0");
  }

  // Opens the port and a slave terminal on it (after any settings change).
  TOrveta& Open() {
    port_ = std::make_unique<TSer_Port>(0, 19200);
    terminal_ = std::make_unique<TOrveta>(port_.get(), 1);
    terminal_->Slave = true;
    terminal_->Display = &display_;
    return *terminal_;
  }

  void Reply(std::vector<uint8_t> reply) {
    if (player_.joinable()) player_.join();
    player_ = std::thread([this, reply] {
      const auto head = pty_.Read(2, std::chrono::seconds(2));
      if (head.size() < 2) return;
      pty_.Read(head[1] - 2u, std::chrono::seconds(2));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      pty_.Write(reply);
    });
  }

  std::string Dump() const {
    std::ifstream in(directory_ + "/binarni.bin", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string ErrorLog() const {
    std::ifstream in(directory_ + "/errorlog.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static std::vector<uint8_t> Record(char type, uint8_t high, uint8_t low) {
    std::vector<uint8_t> r = {static_cast<uint8_t>(type), high, low, 0xDE, 0xAD, 0xBE, 0xEF, 'F'};
    r.resize(24, 0x39);
    r[22] = r[23] = 0;
    return r;
  }

  PtyPair pty_;
  TempDir temp_{"block"};
  const std::string directory_ = temp_.Path().string();
  std::unique_ptr<TSer_Port> port_;
  std::unique_ptr<TOrveta> terminal_;
  RecordingDisplay display_;
  std::thread player_;
};

TEST_F(BlockReception, TwoRecordsGiveTwoLinesAndTheDumpFile) {
  TOrveta& t = Open();
  std::vector<uint8_t> reply = {kAck};
  for (uint8_t n : {7, 8}) {
    const auto r = Record('R', 0, n);
    reply.insert(reply.end(), r.begin(), r.end());
  }
  Reply(reply);
  const LineResult two = ExecuteLine(t, "P");
  EXPECT_TRUE(two.Counted());
  EXPECT_EQ(two.RecordCount, 2);
  EXPECT_EQ(two.AnswerLength, 48);
  ASSERT_EQ(two.Lines.size(), 2u);
  EXPECT_EQ(two.Lines[0].substr(0, 14), "R0007DEADBEEFF");
  EXPECT_EQ(Dump(), std::string(reply.begin() + 1, reply.end()));
  EXPECT_EQ(display_.Panel3, (std::vector<std::string>{"", "48"}));
  EXPECT_EQ(display_.Current, CursorShape::Default);
  // The buffer is cleared over the used length after decoding.
  EXPECT_TRUE(std::all_of(t.Answer.begin(), t.Answer.begin() + 48, [](uint8_t b) { return b == 0; }));

  // Not acknowledged: false, no block read, the dump file keeps its content.
  Reply({0x15, 'R'});
  const LineResult refused = ExecuteLine(t, "P");
  EXPECT_FALSE(refused.Acknowledged);
  EXPECT_FALSE(refused.Counted());
  EXPECT_EQ(refused.RecordCount, 0);
  EXPECT_EQ(Dump().size(), 48u);
}

TEST_F(BlockReception, BadLengthMarksTheLineAndLogsIt) {
  TOrveta& t = Open();
  std::vector<uint8_t> reply = {kAck};
  const auto r = Record('R', 0x30, 0x39);
  reply.insert(reply.end(), r.begin(), r.end());
  reply.insert(reply.end(), r.begin(), r.end());
  reply.insert(reply.end(), r.begin(), r.begin() + 2);  // 50 bytes
  Reply(reply);
  const LineResult bad = ExecuteLine(t, "P");
  EXPECT_TRUE(bad.CarriedOut());
  EXPECT_TRUE(bad.ReceiveRepeat);
  EXPECT_FALSE(bad.Counted());
  EXPECT_EQ(bad.RecordCount, 0);
  EXPECT_TRUE(bad.Lines.empty());
  EXPECT_NE(ErrorLog().find(" - R,Z chybne nacteno: 50 byte\r\n"), std::string::npos);

  // A status block of a whole number of units: one line, counted in units.
  std::vector<uint8_t> status(54, 0);
  status[0] = 'S';
  const std::string text = "TERMINAL";
  std::copy(text.begin(), text.end(), status.begin() + 9);
  status.insert(status.begin(), kAck);
  Reply(status);
  const LineResult whole = ExecuteLine(t, "S");
  EXPECT_TRUE(whole.Counted());
  EXPECT_EQ(whole.RecordCount, 2);
  EXPECT_EQ(whole.Lines, std::vector<std::string>{"S00000000000000TERMINAL"});
}

TEST_F(BlockReception, PollEndsTheBlockAndUnknownBlocksGiveNoLines) {
  TOrveta& t = Open();
  Reply({kAck, 'W', 1, 2, 3, 0x10, 0x04, 0x55, 0x69, 9, 9});
  const LineResult unknown = ExecuteLine(t, "Y");
  EXPECT_TRUE(unknown.Counted());
  EXPECT_EQ(unknown.AnswerLength, 4 + 3);
  EXPECT_EQ(Dump(), std::string("W\x01\x02\x03\x10\x04\x55", 7));
  EXPECT_TRUE(unknown.Lines.empty());
  EXPECT_EQ(unknown.RecordCount, 0);

  // No block at all: an empty dump, no lines, still true.
  Reply({kAck});
  const LineResult none = ExecuteLine(t, "S");
  EXPECT_TRUE(none.Counted());
  EXPECT_EQ(none.AnswerLength, 0);
  EXPECT_TRUE(Dump().empty());
}

// An answer larger than the capacity is no success: the line is not counted,
// the message is shown once and logged, and the rest of the block is read
// away until the line is quiet, so that none of it meets the next command.
TEST_F(BlockReception, OverflowIsLoggedNotCountedAndTheRestIsReadAway) {
  Settings().AnswerBufferSize = 48;
  TOrveta& t = Open();
  std::vector<uint8_t> reply = {kAck};
  for (uint8_t n : {1, 2, 3, 4}) {
    const auto r = Record('R', 0, n);
    reply.insert(reply.end(), r.begin(), r.end());
  }
  Reply(reply);
  const LineResult overflow = ExecuteLine(t, "P");
  EXPECT_EQ(port_->Port->ReceiveCount(), 0);  // the rest of the block was read away
  EXPECT_TRUE(overflow.Acknowledged);
  EXPECT_TRUE(overflow.Overflow);
  EXPECT_FALSE(overflow.CarriedOut());
  EXPECT_FALSE(overflow.Counted());
  EXPECT_EQ(display_.CapacityMessages, 1);
  EXPECT_TRUE(overflow.Lines.empty());
  EXPECT_EQ(overflow.AnswerLength, 48);
  EXPECT_EQ(Dump().size(), 48u);
  EXPECT_EQ(display_.Panel3.back(), "48");
  EXPECT_EQ(overflow.RecordCount, 0);
  EXPECT_NE(ErrorLog().find(Cp1250FromUtf8(" - Překročena kapacita paměti!!! Nutno zvýšit kapacitu paměti v "
                                           "konfiguraci a restartovat.\r\n")),
            std::string::npos);

}

TEST_F(BlockReception, NonDataCommandReturnsAfterTheAckAndZeroCountsThrowBeforeSending) {
  TOrveta& t = Open();
  Reply({kAck});
  const LineResult hello = ExecuteLine(t, "Hello");
  EXPECT_TRUE(hello.Counted());
  EXPECT_EQ(hello.RecordCount, 0);
  EXPECT_EQ(hello.AnswerLength, 0);

  Settings().BreakfastCount = 0;
  EXPECT_THROW(ExecuteLine(t, "R0001ABCDEFGHA" + std::string(42, '0')), EDivByZero);
  EXPECT_EQ(display_.Current, CursorShape::Default);
  EXPECT_TRUE(pty_.Read(1, std::chrono::milliseconds(100)).empty());  // nothing went out

  // A breakfast and a dinner code beyond their counts: each refused code in
  // the log, then the whole line; the line still goes out.
  Settings() = LinkSettings{};
  Reply({kAck});
  const std::string refused = "R0002ABCDEFGHA" + std::string(14, '1') + "2" + std::string(13, '0') + "3" +
                              std::string(13, '0') + "NOVAK JAN     ";
  ASSERT_TRUE(ExecuteLine(t, refused).Counted());
  const std::string log = ErrorLog();
  const size_t breakfast = log.find(" - Spatne kodovani snidani\r\n");
  const size_t dinner = log.find(" - Spatne kodovani veceri\r\n");
  ASSERT_NE(breakfast, std::string::npos) << log;
  ASSERT_NE(dinner, std::string::npos) << log;
  EXPECT_LT(breakfast, dinner);
  EXPECT_TRUE(log.ends_with(" - " + refused + "\r\n")) << log;
}

TEST_F(BlockReception, LineTooLongForTheWorkBufferIsRefused) {
  TOrveta& t = Open();
  EXPECT_FALSE(ExecuteLine(t, std::string(299, 'T')).Acknowledged);
  EXPECT_TRUE(pty_.Read(1, std::chrono::milliseconds(100)).empty());
}

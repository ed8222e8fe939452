#include "archive/tar_header.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "support/tar_fixtures.h"

namespace zrk {
namespace {

using test::set_tar_checksum;
using test::set_tar_field;
using test::tar_header;

const unsigned char* bytes(const std::string& block) {
  return reinterpret_cast<const unsigned char*>(block.data());
}

struct Parsed {
  bool ok;
  TarMember member;
  std::string reason;
};

Parsed parse(const std::string& block) {
  Parsed parsed{false, {}, "earlier reason"};
  parsed.ok = parse_tar_header(bytes(block), &parsed.member, &parsed.reason);
  return parsed;
}

// The checksum a writer that takes bytes as signed chars would store.
std::int64_t signed_checksum(std::string block) {
  set_tar_field(block, 148, 8, "        ");
  std::int64_t sum = 0;
  for (const char c : block) sum += static_cast<signed char>(c);
  return sum;
}

std::string with_checksum_text(std::string block, const std::string& text) {
  set_tar_field(block, 148, 8, text);
  return block;
}

TEST(ParseOctalField, AcceptsBlanksDigitsBlanksOnly) {
  const struct {
    std::string field;
    bool ok;
    std::uint64_t value;
  } kCases[] = {
      {"", true, 0},
      {std::string("\0\0\0\0", 4), true, 0},
      {"    ", true, 0},
      {"0000644", true, 0644},
      {std::string("0000644\0", 8), true, 0644},
      {std::string(" \0 17 \0 ", 8), true, 017},
      {"77777777", true, 077777777},
      {"777777777777", true, 0777777777777},
      {"1777777777777777777777", true, UINT64_MAX},
      {"2000000000000000000000", false, 0},  // would lose bits
      {"0000648", false, 0},
      {"-000644", false, 0},
      {"+000644", false, 0},
      {"00 0644", false, 0},
      {"0644x  ", false, 0},
      {"\x80\0\0\0\0\0\0\x01", false, 0},  // base-256
      {"\xff\xff\xff\xff", false, 0},
  };
  for (const auto& c : kCases) {
    std::uint64_t value = 12345;
    EXPECT_EQ(parse_octal_field(bytes(c.field), c.field.size(), &value), c.ok) << c.field;
    EXPECT_EQ(value, c.ok ? c.value : 12345) << c.field;
  }
}

TEST(ReadHeaderText, StopsAtTheFirstNulOrTheWidth) {
  const std::string block = std::string("abc\0def", 7) + std::string(10, 'x');
  EXPECT_EQ(read_header_text(bytes(block), 0, 7), "abc");
  EXPECT_EQ(read_header_text(bytes(block), 4, 3), "def");
  EXPECT_EQ(read_header_text(bytes(block), 7, 10), std::string(10, 'x'));
  EXPECT_EQ(read_header_text(bytes(block), 3, 4), "");
}

TEST(ParseTarHeader, FillsTheRecordFromAGoodHeader) {
  std::string block = tar_header("Z-Ravelkin/a.txt", 1234, '5');
  set_tar_field(block, 100, 8, "0100755");
  set_tar_checksum(block);
  const Parsed parsed = parse(block);
  ASSERT_TRUE(parsed.ok) << parsed.reason;
  EXPECT_EQ(parsed.member.name, "Z-Ravelkin/a.txt");
  EXPECT_EQ(parsed.member.size, 1234u);
  EXPECT_EQ(parsed.member.mode, 0100755u);
  EXPECT_EQ(parsed.member.type, '5');
  EXPECT_EQ(parsed.reason, "earlier reason");
}

TEST(ParseTarHeader, TypeflagNulReadsAsRegularAndOthersPassThrough) {
  EXPECT_EQ(parse(tar_header("n", 0, '\0')).member.type, '0');
  EXPECT_EQ(parse(tar_header("n", 0, 'L')).member.type, 'L');
  EXPECT_EQ(parse(tar_header("n", 0, 'x')).member.type, 'x');
}

TEST(ParseTarHeader, ChecksumMayBeSignedOrUnsigned) {
  // High bytes make the two sums differ.
  std::string block = tar_header(
      "Z-Ravelkin/donn\xc3\xa9"
      "es-\xc3\xa9t\xc3\xa9.txt",
      9);
  ASSERT_TRUE(parse(block).ok) << "unsigned sum";
  const std::int64_t sum = signed_checksum(block);
  std::uint64_t unsigned_sum = 0;
  ASSERT_TRUE(parse_octal_field(bytes(block) + 148, 8, &unsigned_sum));
  ASSERT_NE(static_cast<std::uint64_t>(sum), unsigned_sum);
  char text[16];
  std::snprintf(text, sizeof text, "%06llo", static_cast<unsigned long long>(sum));
  const std::string signed_block = with_checksum_text(block, std::string(text) + '\0' + ' ');
  EXPECT_TRUE(parse(signed_block).ok) << "signed sum";
  std::snprintf(text, sizeof text, "%06llo", static_cast<unsigned long long>(sum + 1));
  EXPECT_EQ(parse(with_checksum_text(block, std::string(text) + '\0' + ' ')).reason,
            "tar header checksum mismatch");
}

TEST(ParseTarHeader, ChecksumFieldForms) {
  const std::string block = tar_header("Z-Ravelkin/a", 0);
  std::uint64_t sum = 0;
  ASSERT_TRUE(parse_octal_field(bytes(block) + 148, 8, &sum));
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08llo", static_cast<unsigned long long>(sum));
  const std::string eight(digits);
  EXPECT_TRUE(parse(with_checksum_text(block, eight.substr(2) + '\0' + ' ')).ok);
  EXPECT_TRUE(parse(with_checksum_text(block, eight.substr(1) + '\0')).ok);
  EXPECT_TRUE(parse(with_checksum_text(block, eight)).ok);
  EXPECT_TRUE(parse(with_checksum_text(block, "  " + eight.substr(2))).ok);
  EXPECT_EQ(parse(with_checksum_text(block, "        ")).reason, "tar header checksum mismatch");
  EXPECT_EQ(parse(with_checksum_text(block, "0001x34")).reason, "tar header checksum is not octal");
}

TEST(ParseTarHeader, RefusesInOrderWithOneReason) {
  const auto broken = [](const std::function<void(std::string&)>& change, bool fix_checksum) {
    std::string block = tar_header("Z-Ravelkin/a", 10);
    change(block);
    if (fix_checksum) set_tar_checksum(block);
    return block;
  };
  const auto no_magic = [](std::string& b) { set_tar_field(b, 257, 6, ""); };
  const auto no_name = [](std::string& b) { set_tar_field(b, 0, 100, ""); };
  const auto bad_mode = [](std::string& b) { set_tar_field(b, 100, 8, "0644x"); };
  const auto bad_size = [](std::string& b) { b[124] = '\x80'; };
  const struct {
    std::string block;
    const char* reason;
  } kCases[] = {
      {broken(
           [&](std::string& b) {
             no_magic(b);
             b[0] = 'Y';
           },
           false),
       "tar header checksum mismatch"},
      {broken(
           [&](std::string& b) {
             no_magic(b);
             no_name(b);
           },
           true),
       "tar header is not ustar"},
      {broken(
           [&](std::string& b) {
             no_name(b);
             bad_mode(b);
           },
           true),
       "tar header has no name"},
      {broken(
           [&](std::string& b) {
             no_name(b);
             set_tar_field(b, 345, 155, "Z-Ravelkin");
           },
           true),
       "tar header has no name"},
      {broken(
           [&](std::string& b) {
             bad_mode(b);
             bad_size(b);
           },
           true),
       "tar header mode is not octal"},
      {broken([](std::string& b) { set_tar_field(b, 100, 8, "-000644"); }, true),
       "tar header mode is not octal"},
      {broken(bad_size, true), "tar header size is not octal"},
      {broken([](std::string& b) { set_tar_field(b, 124, 12, "\xff\xff\xff\xff"); }, true),
       "tar header size is not octal"},
  };
  for (const auto& c : kCases) {
    Parsed parsed = parse(c.block);
    EXPECT_FALSE(parsed.ok) << c.reason;
    EXPECT_EQ(parsed.reason, c.reason);
    EXPECT_EQ(parsed.member.name, "");
    EXPECT_EQ(parsed.member.size, 0u);
    EXPECT_EQ(parsed.member.mode, 0u);
    EXPECT_EQ(parsed.member.type, '0');
  }
}

TEST(ParseTarHeader, AcceptsBothMagicFormsOnly) {
  const struct {
    std::string magic;
    bool ok;
  } kCases[] = {
      {std::string("ustar\0"
                   "00",
                   8),
       true},
      {std::string("ustar  \0", 8), true},
      {std::string("ustarXYZ", 8), true},
      {std::string("ustaR\0"
                   "00",
                   8),
       false},
      {std::string("\0\0\0\0\0\0\0\0", 8), false},  // pre-POSIX layout
  };
  for (const auto& c : kCases) {
    std::string block = tar_header("Z-Ravelkin/a", 0);
    set_tar_field(block, 257, 8, c.magic);
    set_tar_checksum(block);
    const Parsed parsed = parse(block);
    EXPECT_EQ(parsed.ok, c.ok) << c.magic;
    if (!c.ok) {
      EXPECT_EQ(parsed.reason, "tar header is not ustar");
    }
  }
}

TEST(ParseTarHeader, JoinsPrefixAndNameWithOneSlash) {
  const std::string name100(100, 'n');
  const std::string prefix155(155, 'p');
  const std::string posix(
      "ustar\0"
      "00",
      8);
  const std::string gnu("ustar  \0", 8);
  // Where the GNU form keeps its access and change times.
  const std::string times = std::string("15306040005") + '\0' + "15306040012" + '\0';
  const struct {
    std::string magic;
    std::string name;
    std::string prefix;
    std::string joined;
  } kCases[] = {
      {posix, name100, "", name100},
      {posix, name100, prefix155, prefix155 + "/" + name100},
      {posix, "a.txt", "Z-Ravelkin/bin", "Z-Ravelkin/bin/a.txt"},
      {posix, "a.txt", "Z-Ravelkin/", "Z-Ravelkin//a.txt"},
      {posix, "a.txt", times, "15306040005/a.txt"},
      {gnu, "Z-Ravelkin/a.txt", times, "Z-Ravelkin/a.txt"},
      {gnu, name100, prefix155, name100},
      {std::string("ustarXYZ", 8), "a.txt", "Z-Ravelkin", "Z-Ravelkin/a.txt"},
  };
  for (const auto& c : kCases) {
    std::string block = tar_header(c.name, 0, '0', c.prefix);
    set_tar_field(block, 257, 8, c.magic);
    set_tar_checksum(block);
    const Parsed parsed = parse(block);
    ASSERT_TRUE(parsed.ok) << parsed.reason;
    EXPECT_EQ(parsed.member.name, c.joined);
  }
}

TEST(ParseTarHeader, MissingBlockOrRecord) {
  const std::string block = tar_header("a", 0);
  TarMember member;
  std::string reason = "old";
  EXPECT_FALSE(parse_tar_header(nullptr, &member, &reason));
  EXPECT_EQ(reason, "no tar header");
  reason = "old";
  EXPECT_FALSE(parse_tar_header(bytes(block), nullptr, &reason));
  EXPECT_EQ(reason, "no tar header");
  EXPECT_TRUE(parse_tar_header(bytes(block), &member, nullptr));
}

}  // namespace
}  // namespace zrk

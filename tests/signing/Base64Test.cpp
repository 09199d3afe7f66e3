#include "UpdateManager/signing/Base64.h"

#include <gtest/gtest.h>

#include <string>

using namespace Veltora::UpdateManager;

namespace
{
struct Pair
{
    std::string bytes;
    std::string text;
};
} // namespace

// The test vectors of RFC 4648, plus bytes that use every bit of the alphabet.
TEST(Base64, EncodesAndDecodesTheStandardVectors)
{
    const Pair pairs[] = {{"", ""},
                          {"f", "Zg=="},
                          {"fo", "Zm8="},
                          {"foo", "Zm9v"},
                          {"foob", "Zm9vYg=="},
                          {"fooba", "Zm9vYmE="},
                          {"foobar", "Zm9vYmFy"},
                          {std::string("\0\0\0", 3), "AAAA"},
                          {"\xfb\xff\xbf", "+/+/"}};
    for (const Pair& pair : pairs)
    {
        SCOPED_TRACE(pair.text);
        EXPECT_EQ(encodeBase64(pair.bytes), pair.text);
        EXPECT_EQ(decodeBase64(pair.text), pair.bytes);
    }
}

TEST(Base64, RoundTripsEveryByteValue)
{
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes += static_cast<char>(value);
    for (std::size_t length = 0; length <= bytes.size(); length += 37)
        EXPECT_EQ(decodeBase64(encodeBase64(bytes.substr(0, length))), bytes.substr(0, length));
}

// Only the exact text encodeBase64 writes is accepted, so a signature has one spelling.
TEST(Base64, RefusesEveryOtherText)
{
    const std::string refused[] = {"Zg",        // padding missing
                                   "Zg=",       // padding short
                                   "Zg===",     // padding too long
                                   "Z===",      // a single character cannot hold a byte
                                   "Zm9v=",     // length not a multiple of four
                                   "Zh==",      // unused bits set ("Zg==" is the only text of "f")
                                   "Zm9=",      // unused bits set ("Zm8=" is the only text of "fo")
                                   "Zg==Zg==",  // padding inside the text
                                   "Zm 9v",     // blank
                                   " Zm9v",     // leading blank
                                   "Zm9v\n",    // trailing line break
                                   "Zm9v Zm9v", // blank between groups
                                   "Zm-9",      // URL-safe alphabet
                                   "Zm_9",      // URL-safe alphabet
                                   "Zm9v\xc3\xa9", // non-ASCII
                                   std::string("Zm\0v", 4)};
    for (const std::string& text : refused)
    {
        SCOPED_TRACE(text);
        EXPECT_EQ(decodeBase64(text), std::nullopt);
    }
}

// The ini reader and writer on arbitrary text: keys read, keys written, and
// what was written reads back.
#include "fuzz/FuzzSupport.h"

#include "platform/Profile.h"

using namespace bv;

namespace {

// Names as the program uses them: letters, digits, blanks only inside (the
// writer trims a name, the reader looks it up as given).
std::string plainName(FuzzedDataProvider& in)
{
    static const char kChars[] = "abcXYZ019_ .";
    std::string out;
    const size_t n = in.ConsumeIntegralInRange<size_t>(1, 12);
    for (size_t i = 0; i < n; ++i)
        out += kChars[in.ConsumeIntegralInRange<size_t>(0, sizeof kChars - 2)];
    out.front() = out.front() == ' ' ? 'a' : out.front();
    out.back() = out.back() == ' ' ? 'z' : out.back();
    return out;
}

std::string_view trimmed(std::string_view s)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string content = in.ConsumeRandomLengthString(size);
    ProfileDocument document(content);
    // A file read and written back unchanged, then read again, stays the same.
    const std::string once = document.text();
    BV_FUZZ_REQUIRE(ProfileDocument(once).text() == once);

    while (in.remaining_bytes() > 0) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        const bool plain = op & 0x10;
        const std::string section = plain ? plainName(in) : in.ConsumeRandomLengthString(40);
        const std::string key = plain ? plainName(in) : in.ConsumeRandomLengthString(40);
        switch (op % 3) {
        case 0:
            document.getString(section, key, in.ConsumeRandomLengthString(20),
                               in.ConsumeIntegralInRange<size_t>(0, 300));
            break;
        case 1:
            document.getInt(section, key, in.ConsumeIntegral<int>());
            break;
        case 2: {
            const std::string value = in.ConsumeRandomLengthString(80);
            document.writeString(section, key, value);
            // What the document answers after a write is what the file it
            // writes out answers when read in again.
            BV_FUZZ_REQUIRE(document.getString(section, key, "", 4096) ==
                            ProfileDocument(document.text()).getString(section, key, "", 4096));
            if (!plain)
                break;
            const std::string first = value.substr(0, value.find_first_of("\r\n"));
            std::string_view expect = trimmed(first);
            if (expect.size() >= 2 && (expect.front() == '"' || expect.front() == '\'') &&
                expect.back() == expect.front())
                expect = expect.substr(1, expect.size() - 2);
            BV_FUZZ_REQUIRE(document.getString(section, key, "", 4096) == expect);
            // And so does the file written out and read in again.
            BV_FUZZ_REQUIRE(ProfileDocument(document.text()).getString(section, key, "", 4096) == expect);
            break;
        }
        }
    }
    // The numbers' readers on the same text.
    leadingInt(content);
    leadingUnsigned(content);
    leadingReal(content);
    return 0;
}

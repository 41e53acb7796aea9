// The INI text rules: what the private-profile calls read and write.
#include "common/ini_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "support/test_app.h"

namespace vel::ini {
namespace {

using std::nullopt;
using std::optional;
using std::string;
using test::IniFixture;

// ---- Reading ---------------------------------------------------------------

TEST(IniRead, MissingSectionOrKeyOrEmptyText)
{
    EXPECT_EQ(ReadValue("", "Main", "Delay"), nullopt);
    EXPECT_EQ(ReadValue("[Main]\r\nDelay=5\r\n", "Other", "Delay"), nullopt);
    EXPECT_EQ(ReadValue("[Main]\r\nDelay=5\r\n", "Main", "Tolerance"), nullopt);
    EXPECT_EQ(ReadValue("[Main]\r\nDelay=5\r\n", "Main", "Delay"), optional<string>("5"));
}

TEST(IniRead, NamesMatchWithoutCaseAndSurroundingBlanks)
{
    const string text = "[ main ]\r\n\t NtpServer \t= a\r\n";
    EXPECT_EQ(ReadValue(text, "Main", "NTPServer"), optional<string>("a"));
    EXPECT_EQ(ReadValue(text, "MAIN", "ntpserver"), optional<string>("a"));
    EXPECT_EQ(ReadValue(text, " Main ", " NTPServer "), optional<string>("a"));
    // Blanks inside a name are part of it.
    EXPECT_EQ(ReadValue("[Ma in]\nKey=1\n", "Main", "Key"), nullopt);
    EXPECT_EQ(ReadValue("[Main]\nK ey=1\n", "Main", "Key"), nullopt);
    // Only ASCII letters fold: bytes above 127 must match exactly.
    EXPECT_EQ(ReadValue("[Main]\n\xC4=1\n", "Main", "\xE4"), nullopt);
}

TEST(IniRead, ValueTrimmedOfBlanksAndTabs)
{
    EXPECT_EQ(ReadValue("[Main]\nKey= \t value with  inner blanks \t \n", "Main", "Key"),
              optional<string>("value with  inner blanks"));
}

TEST(IniRead, OnePairOfEnclosingQuotesRemoved)
{
    auto read = [](const string& value) { return ReadValue("[Main]\nKey=" + value + "\n", "Main", "Key"); };
    EXPECT_EQ(read("\"  x  \""), optional<string>("  x  "));
    EXPECT_EQ(read("'y'"), optional<string>("y"));
    EXPECT_EQ(read("\"\""), optional<string>(""));
    EXPECT_EQ(read("  \"padded\"  "), optional<string>("padded"));
    EXPECT_EQ(read("\"\"twice\"\""), optional<string>("\"twice\""));
    // Lone, inner or unmatched quotes stay.
    EXPECT_EQ(read("\"half"), optional<string>("\"half"));
    EXPECT_EQ(read("a \"b\" c"), optional<string>("a \"b\" c"));
    EXPECT_EQ(read("\"mixed'"), optional<string>("\"mixed'"));
    EXPECT_EQ(read("\""), optional<string>("\""));
}

TEST(IniRead, SemicolonInValueIsNoCommentButCommentLinesAreSkipped)
{
    const string text =
        "[Main]\n"
        "Key=v ; w\n"
        ";Other=1\n"
        "  ; Third=3\n";
    EXPECT_EQ(ReadValue(text, "Main", "Key"), optional<string>("v ; w"));
    EXPECT_EQ(ReadValue(text, "Main", ";Other"), nullopt);
    EXPECT_EQ(ReadValue(text, "Main", "Other"), nullopt);
    EXPECT_EQ(ReadValue(text, "Main", "Third"), nullopt);
    // A commented-out section header starts no section.
    EXPECT_EQ(ReadValue(";[Main]\nKey=1\n", "Main", "Key"), nullopt);
}

TEST(IniRead, EmptyValueIsTextNotMissingAndLineWithoutEqualsIsNoKey)
{
    EXPECT_EQ(ReadValue("[Main]\nConnectoid=\n", "Main", "Connectoid"), optional<string>(""));
    EXPECT_EQ(ReadValue("[Main]\nConnectoid =   \n", "Main", "Connectoid"), optional<string>(""));
    EXPECT_EQ(ReadValue("[Main]\nConnectoid\n", "Main", "Connectoid"), nullopt);
    // The first "=" ends the name; later ones belong to the value.
    EXPECT_EQ(ReadValue("[Main]\nKey=a=b\n", "Main", "Key"), optional<string>("a=b"));
}

TEST(IniRead, FirstOfDuplicateSectionsAndKeysCounts)
{
    const string text = IniFixture("duplicate_sections.ini");
    EXPECT_EQ(ReadValue(text, "Main", "NTPServer"),
              optional<string>("ntp-s1.cise.ufl.edu (University of Florida, Gainesville, FL)"));
    EXPECT_EQ(ReadValue(text, "Main", "Delay"), optional<string>("5"));
    // A key only in the second [Main] is not seen.
    EXPECT_EQ(ReadValue(text, "Main", "QuietMode"), nullopt);
}

TEST(IniRead, KeysBelongToTheirOwnSectionOnly)
{
    const string text = IniFixture("hand_edited.ini");
    EXPECT_EQ(ReadValue(text, "Main", "NTPServer"), optional<string>("time-a.nist.gov (NIST, Gaithersburg, Maryland)"));
    EXPECT_EQ(ReadValue(text, "Main", "Delay"), optional<string>("10.4"));
    EXPECT_EQ(ReadValue(text, "Other", "Delay"), optional<string>("99"));
    EXPECT_EQ(ReadValue(text, "Other", "Tolerance"), nullopt);
    // Keys before the first header are in no section.
    EXPECT_EQ(ReadValue("Delay=4\n[Main]\nQuietMode=Y\n", "Main", "Delay"), nullopt);
    EXPECT_EQ(ReadValue("Delay=4\n[Main]\nQuietMode=Y\n", "", "Delay"), nullopt);
}

TEST(IniRead, SectionHeaderForms)
{
    // Text after the closing bracket is ignored; the first "]" ends the name.
    EXPECT_EQ(ReadValue("[Main] ; the settings\nKey=1\n", "Main", "Key"), optional<string>("1"));
    EXPECT_EQ(ReadValue("  [Main]\nKey=1\n", "Main", "Key"), optional<string>("1"));
    // A "[" without "]" is no header: the key after it stays in the section before.
    EXPECT_EQ(ReadValue("[Main]\n[Other\nKey=1\n", "Main", "Key"), optional<string>("1"));
    EXPECT_EQ(ReadValue("[]\nKey=1\n", "", "Key"), optional<string>("1"));
}

TEST(IniRead, EveryKindOfLineEnd)
{
    EXPECT_EQ(ReadValue("[Main]\r\nA=1\r\nB=2\r\n", "Main", "B"), optional<string>("2"));
    EXPECT_EQ(ReadValue("[Main]\nA=1\nB=2\n", "Main", "B"), optional<string>("2"));
    EXPECT_EQ(ReadValue("[Main]\rA=1\rB=2\r", "Main", "B"), optional<string>("2"));
    EXPECT_EQ(ReadValue("[Main]\nA=1\r\nB=2", "Main", "B"), optional<string>("2"));
    EXPECT_EQ(ReadValue("[Main]\nB=", "Main", "B"), optional<string>(""));
    // The CR of CR LF is no part of the value.
    EXPECT_EQ(ReadValue("[Main]\r\nA=x\r\n", "Main", "A"), optional<string>("x"));
}

TEST(IniRead, ByteOrderMarkAtStartIsSkipped)
{
    const string text = IniFixture("bom_no_final_newline.ini");
    EXPECT_EQ(ReadValue(text, "Main", "NTPServer"),
              optional<string>("tick.usno.navy.mil (US Naval Observatory, Washington, DC)"));
    EXPECT_EQ(ReadValue(text, "Main", "Delay"), optional<string>("7"));
}

TEST(IniRead, BinaryBytesAndNulAreOrdinaryCharacters)
{
    const string nul("\0", 1);
    const string text = "\x01\xFF\xFE garbage\n[Main]\nKey=a" + nul + "b\n\x80\x81=\x90\n" + nul + "[Main]=x\n";
    EXPECT_EQ(ReadValue(text, "Main", "Key"), optional<string>("a" + nul + "b"));
    EXPECT_EQ(ReadValue(text, "Main", "\x80\x81"), optional<string>("\x90"));
    EXPECT_EQ(ReadValue(text, "Main", nul + "[Main]"), optional<string>("x"));
    EXPECT_EQ(ReadValue(string(4096, '\0'), "Main", "Key"), nullopt);
}

// ---- Writing ---------------------------------------------------------------

TEST(IniWrite, NewFile)
{
    EXPECT_EQ(WriteValue("", "Main", "NTPServer", "x"), "[Main]\r\nNTPServer=x\r\n");
    EXPECT_EQ(WriteValue("", "Main", "Connectoid", ""), "[Main]\r\nConnectoid=\r\n");
}

TEST(IniWrite, ExistingKeyReplacedWhereItStandsAndEveryOtherByteKept)
{
    const string before = IniFixture("first_configuration.ini");
    const string after = WriteValue(before, "Main", "Delay", "45");
    string expected = before;
    expected.replace(expected.find("Delay=3"), 7, "Delay=45");
    EXPECT_EQ(after, expected);
    EXPECT_EQ(ReadValue(after, "Main", "Delay"), optional<string>("45"));
}

TEST(IniWrite, ReplacedLineKeepsKeySpellingIndentationAndLineEnd)
{
    EXPECT_EQ(WriteValue("[Main]\r\n  nTpSeRvEr =  old value  \r\nX=1\r\n", "MAIN", "NTPServer", "new"),
              "[Main]\r\n  nTpSeRvEr =  new\r\nX=1\r\n");
    EXPECT_EQ(WriteValue("[Main]\nDelay =\n", "Main", "Delay", "3"), "[Main]\nDelay =3\n");
    EXPECT_EQ(WriteValue("[Main]\nNTPServer = \t \n", "Main", "NTPServer", "x"), "[Main]\nNTPServer =x\n");
    EXPECT_EQ(WriteValue("[Main]\nQuietMode=\"y\"", "Main", "QuietMode", "N"), "[Main]\nQuietMode=N");
    EXPECT_EQ(WriteValue("[Main]\nA=1\n", "Main", "A", ""), "[Main]\nA=\n");
    // A value with blanks of its own: a second write of it changes nothing.
    const string once = WriteValue("[Main]\nA = 1\n", "Main", "A", "  x");
    EXPECT_EQ(once, "[Main]\nA =  x\n");
    EXPECT_EQ(WriteValue(once, "Main", "A", "  x"), once);
    const string emptied = WriteValue("[Main]\nA = 1\n", "Main", "A", "");
    EXPECT_EQ(emptied, "[Main]\nA =\n");
    EXPECT_EQ(WriteValue(emptied, "Main", "A", ""), emptied);
}

TEST(IniWrite, NewKeyAtEndOfItsSectionBeforeTrailingBlankLines)
{
    const string before =
        "[Main]\r\n"
        "NTPServer=a\r\n"
        "; a comment inside the section\r\n"
        "\r\n"
        "  \t\r\n"
        "[Other]\r\n"
        "Delay=1\r\n";
    EXPECT_EQ(WriteValue(before, "Main", "Delay", "5"),
              "[Main]\r\n"
              "NTPServer=a\r\n"
              "; a comment inside the section\r\n"
              "Delay=5\r\n"
              "\r\n"
              "  \t\r\n"
              "[Other]\r\n"
              "Delay=1\r\n");
    // A section with only its header: the key goes right after it.
    EXPECT_EQ(WriteValue("[Main]\r\n\r\n[Other]\r\n", "main", "Delay", "5"), "[Main]\r\nDelay=5\r\n\r\n[Other]\r\n");
    // Keys of another section, even of the same name, are not touched.
    EXPECT_EQ(WriteValue("[Other]\nDelay=1\n[Main]\nA=1\n", "Main", "Delay", "5"),
              "[Other]\nDelay=1\n[Main]\nA=1\nDelay=5\n");
}

TEST(IniWrite, LastLineWithoutLineEnd)
{
    EXPECT_EQ(WriteValue("[Main]\r\nA=1", "Main", "B", "2"), "[Main]\r\nA=1\r\nB=2\r\n");
    EXPECT_EQ(WriteValue("[Main]", "Main", "B", "2"), "[Main]\r\nB=2\r\n");
    EXPECT_EQ(WriteValue("[Main]\nA=1", "Main", "A", "3"), "[Main]\nA=3");
    EXPECT_EQ(WriteValue("[Other]\nA=1", "Main", "B", "2"), "[Other]\nA=1\n[Main]\nB=2\n");
}

TEST(IniWrite, MissingSectionAtEndOfFile)
{
    EXPECT_EQ(WriteValue("[Other]\r\nA=1\r\n", "Main", "Delay", "3"), "[Other]\r\nA=1\r\n[Main]\r\nDelay=3\r\n");
    // Text that is no INI at all is kept in front.
    EXPECT_EQ(WriteValue("just some words", "Main", "Delay", "3"), "just some words\r\n[Main]\r\nDelay=3\r\n");
    // A commented-out header does not count.
    EXPECT_EQ(WriteValue(";[Main]\r\n", "Main", "Delay", "3"), ";[Main]\r\n[Main]\r\nDelay=3\r\n");
}

TEST(IniWrite, NewLinesFollowTheFilesLineEnds)
{
    EXPECT_EQ(WriteValue("[Main]\nA=1\n", "Main", "B", "2"), "[Main]\nA=1\nB=2\n");
    EXPECT_EQ(WriteValue("[Other]\n", "Main", "B", "2"), "[Other]\n[Main]\nB=2\n");
    EXPECT_EQ(WriteValue("[Main]\rA=1\r", "Main", "B", "2"), "[Main]\rA=1\rB=2\r");
}

TEST(IniWrite, FirstOfDuplicateSectionsAndKeysIsWritten)
{
    const string before = IniFixture("duplicate_sections.ini");
    string expected = before;
    expected.replace(expected.find("Delay=5"), 7, "Delay=9");
    EXPECT_EQ(WriteValue(before, "Main", "Delay", "9"), expected);

    // A key only in the second [Main] goes into the first one.
    const string after = WriteValue(before, "Main", "QuietMode", "N");
    expected = before;
    expected.insert(expected.find("Delay=50\r\n") + 10, "QuietMode=N\r\n");
    EXPECT_EQ(after, expected);
    EXPECT_EQ(ReadValue(after, "Main", "QuietMode"), optional<string>("N"));
}

TEST(IniWrite, KeepsByteOrderMarkAndUnrelatedLinesByteForByte)
{
    const string before = IniFixture("bom_no_final_newline.ini");
    EXPECT_EQ(WriteValue(before, "Main", "QuietMode", "Y"), before + "\r\nQuietMode=Y\r\n");
    const string odd = "[Main]\r\nA   =  b  \r\n\r\n\r\n; note\r\nX\r\n[Other]\r\n  k = v\r\n";
    const string after = WriteValue(odd, "Main", "A", "c");
    EXPECT_EQ(after, "[Main]\r\nA   =  c\r\n\r\n\r\n; note\r\nX\r\n[Other]\r\n  k = v\r\n");
}

TEST(IniWrite, LineBreaksCannotAddLinesOfTheirOwn)
{
    const string after = WriteValue("[Main]\r\n", "Main", "Connectoid", "My ISP\r\n[Main]\r\nQuietMode=Y");
    EXPECT_EQ(after, "[Main]\r\nConnectoid=My ISP\r\n");
    EXPECT_EQ(ReadValue(after, "Main", "QuietMode"), nullopt);
    EXPECT_EQ(WriteValue("", "Main\nX", "Key\rY", "v"), "[Main]\r\nKey=v\r\n");
}

TEST(IniWrite, ValueReadBackAsWritten)
{
    string text;
    for (const string value : {"tick.usno.navy.mil (US Naval Observatory, Washington, DC)", "a;b", "", "=", "[x]"}) {
        text = WriteValue(text, "Main", "NTPServer", value);
        EXPECT_EQ(ReadValue(text, "Main", "NTPServer"), optional<string>(value));
    }
    // Blanks around a value and enclosing quotes do not survive a read, as
    // with the private-profile calls.
    text = WriteValue(text, "Main", "NTPServer", "  x  ");
    EXPECT_EQ(ReadValue(text, "Main", "NTPServer"), optional<string>("x"));
    text = WriteValue(text, "Main", "NTPServer", "\"x\"");
    EXPECT_EQ(ReadValue(text, "Main", "NTPServer"), optional<string>("x"));
}

// ---- Files in UTF-16 ---------------------------------------------------------

// UTF-16 LE bytes of a text of ASCII, BMP and astral characters (with the mark).
string Utf16(const std::u16string& text)
{
    string bytes = "\xFF\xFE";
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST(IniUtf16, AUtf16FileIsReadAndWrittenInItsOwnEncoding)
{
    const string file = Utf16(u"[Main]\r\nConnectoid=Z\u00FCrich \U0001F600\r\nDelay=10\r\n");
    const FileContent content = DecodeFile(file);
    EXPECT_EQ(content.encoding, Encoding::Utf16LE);
    EXPECT_EQ(ReadValue(content.text, "Main", "Connectoid"), optional<string>("Z\xC3\xBCrich \xF0\x9F\x98\x80"));
    FileContent written = content;
    written.text = WriteValue(content.text, "Main", "Delay", "25");
    EXPECT_EQ(EncodeFile(written), Utf16(u"[Main]\r\nConnectoid=Z\u00FCrich \U0001F600\r\nDelay=25\r\n"));
}

// Whatever the bytes, a file comes back as it was; only a UTF-16 file is
// decoded.
TEST(IniUtf16, EveryFileComesBackByteForByte)
{
    const string cases[] = {
        "",
        "[Main]\r\nDelay=3\r\n",
        string("\xFE\xFF\0[\0M", 6),              // big-endian mark: bytes as they are
        "\xEF\xBB\xBF[Main]\r\n",                 // UTF-8 mark: bytes as they are
        "\xFF\xFE",                               // the mark alone
        Utf16(u"[Main]\r\nA=\xD800x\xDC00\r\n"),  // surrogates without partners
        Utf16(u"A=\xDBFF") + "\x41",              // an odd last byte
        Utf16(u"A=\xDBFF\xDFFF\0\xFFFF"),         // the last astral character, a NUL, U+FFFF
    };
    for (const string& bytes : cases) {
        const FileContent content = DecodeFile(bytes);
        EXPECT_EQ(content.encoding, bytes.rfind("\xFF\xFE", 0) == 0 ? Encoding::Utf16LE : Encoding::Bytes);
        EXPECT_EQ(EncodeFile(content), bytes);
        if (content.encoding == Encoding::Bytes) {
            EXPECT_EQ(content.text, bytes);
        }
    }
}

TEST(IniUtf16, BytesThatAreNoUtf8BecomeTheReplacementCharacter)
{
    FileContent content{Encoding::Utf16LE, "a\xFF\xC3(\xE0\x80\x80\xF4\x90\x80\x80", ""};
    EXPECT_EQ(EncodeFile(content), Utf16(u"a\xFFFD\xFFFD(\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD"));
}

// Text the rules cannot read is named by what it is; anything they read is
// no problem, whatever bytes above 0x7F it holds.
TEST(IniEncoding, AMarkTheRulesDoNotReadOrNulBytesAreAProblem)
{
    const auto wide = [](const string& mark, const string& ascii, bool big, int width) {
        string bytes = mark;
        for (const char c : ascii) {
            string unit(static_cast<std::size_t>(width), '\0');
            unit[big ? unit.size() - 1 : 0] = c;
            bytes += unit;
        }
        return bytes;
    };
    const string ini = "[Main]\r\nNTPServer=x\r\n";
    const struct {
        string bytes;
        const char* problem;
    } cases[] = {
        {ini, ""},
        {"\xEF\xBB\xBF" + ini, ""},                        // UTF-8 with its mark
        {wide("\xFF\xFE", ini, false, 2), ""},             // UTF-16 LE with its mark
        {"[Main]\r\nNTPServer=caf\xE9 \xFF\xFE\r\n", ""},  // ANSI, and bytes of no encoding
        {"", ""},
        {wide("\xFE\xFF", ini, true, 2), "UTF-16 big-endian"},
        {wide(string("\xFF\xFE\0\0", 4), ini, false, 4), "UTF-32 little-endian"},
        {wide(string("\0\0\xFE\xFF", 4), ini, true, 4), "UTF-32 big-endian"},
        {wide("", ini, false, 2), "NUL bytes: UTF-16 or UTF-32 without a byte order mark, or no text"},
        {"[Main]\r\nDelay=5" + string(1, '\0') + "\r\n",
         "NUL bytes: UTF-16 or UTF-32 without a byte order mark, or no text"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodingProblem(c.bytes), c.problem) << ::testing::PrintToString(c.bytes);
}

TEST(IniText, HugeInputTakesLinearTime)
{
    // 400 000 lines in one section, the key at the end: a reader or writer
    // that rescans per line would take minutes.
    string text = "[Main]\r\n";
    for (int i = 0; i < 400000; ++i)
        text += "Key" + std::to_string(i) + "=value\r\n";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadValue(text, "Main", "Key399999"), optional<string>("value"));
    EXPECT_EQ(ReadValue(text, "Main", "Missing"), nullopt);
    const string after = WriteValue(text, "Main", "Missing", "1");
    EXPECT_EQ(after, text + "Missing=1\r\n");
    EXPECT_EQ(WriteValue(string(1 << 22, '['), "Main", "K", "v").size(), (1u << 22) + 2 + 8 + 5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace vel::ini

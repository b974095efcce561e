// The CustomActionData form of the deferred entry points, and their decimal
// integers.
#include "custom_action_data.h"
#include "normalising_rule.h"

#include <gtest/gtest.h>

#include <climits>

using vmsi::msi::joinCustomActionData;
using vmsi::msi::literalLogText;
using vmsi::msi::parseDecimalInteger;
using vmsi::msi::splitCustomActionData;
using Fields = std::vector<std::string>;

TEST(CustomActionDataTest, PlainFieldsKeepBackslashesAndQuotesQuotedFieldsKeepSemicolons) {
    EXPECT_EQ(splitCustomActionData(R"(C:\Program Files\Quillmark\;DbMigrate.exe)"),
              (Fields{R"(C:\Program Files\Quillmark\)", "DbMigrate.exe"}));
    EXPECT_EQ(splitCustomActionData(R"(-o "C:\a b\" x;"a;b";"say ""hi""";"C:\x\")"),
              (Fields{R"(-o "C:\a b\" x)", "a;b", R"(say "hi")", R"(C:\x\)"}));
    EXPECT_EQ(splitCustomActionData(""), Fields{});
    EXPECT_EQ(splitCustomActionData(R"("")"), Fields{""});
    EXPECT_EQ(splitCustomActionData(";"), (Fields{"", ""}));
    EXPECT_EQ(splitCustomActionData(R"(a;;"";)"), (Fields{"a", "", "", ""}));
    EXPECT_EQ(splitCustomActionData(R"(" a ";" ")"), (Fields{" a ", " "}));
}

TEST(CustomActionDataTest, AQuotedFieldMustBeClosedAndEndTheField) {
    for (const char* malformed :
         {R"(")", R"("abc)", R"(a;"b)", R"("a"")", R"("a"b)", R"("a" ;b)"}) {
        EXPECT_EQ(splitCustomActionData(malformed), std::nullopt) << malformed;
    }
}

TEST(CustomActionDataTest, EveryListOfFieldsComesBackFromItsJoinedForm) {
    EXPECT_EQ(joinCustomActionData({R"(C:\x\)", "a;b", R"("q")", R"(mid"quote)"}),
              R"(C:\x\;"a;b";"""q""";mid"quote)");
    // Every text of up to three characters from the characters that matter,
    // in lists of up to three fields.
    std::vector<std::string> texts{""};
    for (std::size_t begin = 0, length = 1; length <= 3; ++length) {
        const std::size_t end = texts.size();
        for (std::size_t i = begin; i < end; ++i) {
            for (const char c : {'a', ';', '"', '\\'}) {
                texts.push_back(texts[i] + c);
            }
        }
        begin = end;
    }
    std::vector<Fields> lists{{}};
    for (const std::string& first : texts) {
        lists.push_back({first});
        for (const std::string& second : texts) {
            lists.push_back({first, second});
            if (first.size() + second.size() <= 3) {
                for (const std::string& third : texts) {
                    lists.push_back({first, second, third});
                }
            }
        }
    }
    for (const Fields& fields : lists) {
        const std::string data = joinCustomActionData(fields);
        ASSERT_EQ(splitCustomActionData(data), fields) << "joined as [" << data << "]";
    }
}

TEST(CustomActionDataTest, IntegersAreSignedDecimalsWithinRangeBetweenBlanksAndNothingElse) {
    EXPECT_EQ(parseDecimalInteger("0"), 0);
    EXPECT_EQ(parseDecimalInteger("-0"), 0);
    EXPECT_EQ(parseDecimalInteger("+7"), 7);
    EXPECT_EQ(parseDecimalInteger("007"), 7);
    EXPECT_EQ(parseDecimalInteger("2147483647"), INT_MAX);
    EXPECT_EQ(parseDecimalInteger("-2147483648"), INT_MIN);
    EXPECT_EQ(parseDecimalInteger(" 1"), 1);
    EXPECT_EQ(parseDecimalInteger("1 "), 1);
    EXPECT_EQ(parseDecimalInteger("\t -2147483648 \t"), INT_MIN);
    for (const char* text :
         {"", " \t ", "-", " + ", "2147483648", "-2147483649", "99999999999999999999", "- 1", "1 2",
          "\n1", "1\r", "1.0", "0x10", "1e3", "--1", "12a"}) {
        EXPECT_EQ(parseDecimalInteger(text), std::nullopt) << "[" << text << "]";
    }
}

TEST(CustomActionDataTest, LogTextsKeepToOneLineAndNeverReferToAProperty) {
    using vmsi::test::noLeadBytes;
    using vmsi::test::shiftJisLeadByte;
    EXPECT_EQ(literalLogText("[a]{b}", noLeadBytes), "[\\[]a[\\]][\\{]b[\\}]");
    EXPECT_EQ(literalLogText("x\r\nVmsiLaunch: info: forged\n", noLeadBytes),
              "x<CR><LF>VmsiLaunch: info: forged<LF>");
    // Code page 932: the second byte of ー (81 5B) is part of it, a bracket
    // after it is one; a lead byte before a line break or at the end stands
    // alone.
    const std::string longVowel = "\x81\x5B";
    EXPECT_EQ(literalLogText(longVowel + "[" + longVowel, shiftJisLeadByte),
              longVowel + "[\\[]" + longVowel);
    EXPECT_EQ(literalLogText("\x81\n\x81", shiftJisLeadByte), "\x81<LF>\x81");
    EXPECT_EQ(literalLogText("[\x81", shiftJisLeadByte), "[\\[]\x81");
    EXPECT_EQ(literalLogText(longVowel, noLeadBytes), "\x81[\\[]");
}

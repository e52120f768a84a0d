#include "host/framework/String.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(String, ConstructionAndConversion) {
    CString a("abc");
    CString b;
    CString n(static_cast<const char*>(nullptr));
    EXPECT_EQ(a.GetLength(), 3);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_TRUE(n.IsEmpty());
    EXPECT_STREQ(static_cast<const char*>(a), "abc");
    EXPECT_STREQ(a.GetString(), "abc");
    a.Empty();
    EXPECT_TRUE(a.IsEmpty());
}

TEST(String, FormatHasPrintfSemantics) {
    CString s;
    s.Format("OPTDRV      %d %le %15lf", 3, 1.5, 2.25);
    char expect[128];
    std::snprintf(expect, sizeof expect, "OPTDRV      %d %le %15lf", 3, 1.5, 2.25);
    EXPECT_STREQ(s, expect);
    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
}

TEST(String, FormatOfAnyLength) {
    const std::string longText(5000, 'x');
    CString s;
    s.Format("[%s|%d]", longText.c_str(), 42);
    EXPECT_EQ(s.GetLength(), 5000 + 5);
    EXPECT_EQ(std::string(s).substr(4996), "xxxxx|42]");
}

TEST(String, ComparisonAndConcatenation) {
    CString a("Param1");
    CString b("Param2");
    EXPECT_TRUE(a == "Param1");
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(a < "Param2");
    EXPECT_FALSE(a == b);
    CString c = a + "|" + b + '!';
    EXPECT_EQ(c, "Param1|Param2!");
    c += CString("x");
    c += 'y';
    c += "z";
    EXPECT_EQ(c, CString("Param1|Param2!xyz"));
    EXPECT_EQ("pre" + a, "preParam1");
}

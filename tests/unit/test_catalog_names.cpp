// Catalog name arguments: which names filter, which are patterns, and how
// a name matches a pattern (LIKE rules with a backslash escape, letters
// without regard to case), as the field-list path applies them itself.
#include <gtest/gtest.h>

#include <string>

#include "catalog/my_catalog.h"

namespace {

struct arg_of {
    cat_arg a;
    arg_of(const char *text, int ident = 0)
    {
        a.given = text != nullptr;
        a.s = text ? ms_from_latin1(text) : nullptr;
        a.len = SQL_NTS;
        a.ident = ident;
    }
};

bool matches(const char *name, const char *pattern, int ident = 0)
{
    arg_of p(pattern, ident);
    my_string *n = ms_from_latin1(name);
    bool r = cat_name_matches(n, p.a) != 0;
    ms_free(n);
    return r;
}

TEST(CatalogNames, LikeRules)
{
    struct { const char *name, *pattern; bool want; } cases[] = {
        {"code", "c%", true},          {"id", "c%", false},
        {"c", "_", true},              {"id", "_", false},        {"", "_", false},
        {"a_b", "a\\_b", true},        {"axb", "a\\_b", false},   {"a%b", "a\\%b", true},
        {"ab", "a\\%b", false},        {"axb", "a_b", true},      {"a%b", "a_b", true},
        {"AxB", "a_b", true},          {"ID", "id", true},        {"idx", "id", false},
        {"aXaYb", "%a%b", true},       {"aab", "%a%b", true},     {"ba", "%a%b", false},
        {"abXcdYcdZef", "ab%cd%ef", true}, {"abcdef", "ab%cd%efg", false},
        {"", "%", true},               {"x", "%%", true},         {"xy", "x%%y", true},
        {"a\\", "a\\", true},          {"a\\b", "a\\\\b", true},  {"ab", "a\\\\b", false},
        {"qv_cat_parent", "qv\\_cat\\_paren_", true},
        {"qv_cat_parents", "qv\\_cat\\_paren_", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(matches(c.name, c.pattern), c.want) << c.name << " LIKE " << c.pattern;
}

TEST(CatalogNames, WhatFiltersAndWhatIsAPattern)
{
    // no text and "%" do not filter: everything passes
    for (const char *p : {(const char *)nullptr, "", "%"}) {
        arg_of a(p);
        EXPECT_FALSE(cat_filters(a.a)) << (p ? p : "null");
        EXPECT_TRUE(cat_empty(a.a) || cat_is_percent(a.a));
        EXPECT_TRUE(matches("anything", p));
    }
    struct { const char *text; int ident; bool pattern; } cases[] = {
        {"plain", 0, false}, {"with_underscore", 0, true}, {"pre%", 0, true},
        {"esc\\aped", 0, true}, {"with_underscore", 1, false}, {"pre%", 1, false},
    };
    for (const auto &c : cases) {
        arg_of a(c.text, c.ident);
        EXPECT_EQ(cat_is_pattern(a.a) != 0, c.pattern) << c.text << " ident " << c.ident;
    }
    // an identifier matches by equality only, pattern characters included
    EXPECT_TRUE(matches("a_b", "A_B", 1));
    EXPECT_FALSE(matches("axb", "a_b", 1));
    EXPECT_FALSE(matches("ab", "a%", 1));
}

} // namespace

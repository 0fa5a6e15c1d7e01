#include <gtest/gtest.h>

#include <filesystem>

#include "platform/DataSource.h"
#include "support/OdbcFixture.h"

namespace bv {
namespace {

TEST(OdbcDataSource, OpensAndClosesARealSqliteSource)
{
    test::SqliteDataSource source;
    OdbcDataSource ds;
    ASSERT_TRUE(ds.open("BrivaneTest")) << ds.lastError();
    EXPECT_TRUE(ds.isOpen());
    ds.close();
    EXPECT_FALSE(ds.isOpen());
    // The driver created the database file on connect.
    EXPECT_TRUE(std::filesystem::exists(source.database));

    // Full connection texts and the historical prefix are accepted as well.
    ASSERT_TRUE(ds.open("ODBC;DSN=BrivaneTest")) << ds.lastError();
    ds.close();
}

TEST(OdbcDataSource, UnknownSourceFailsWithDriverManagerText)
{
    test::SqliteDataSource source;
    OdbcDataSource ds;
    EXPECT_FALSE(ds.open("NoSuchSource;PWD=secret"));
    EXPECT_FALSE(ds.isOpen());
    EXPECT_FALSE(ds.lastError().empty());
    EXPECT_EQ(ds.lastError().find("secret"), std::string::npos);
    // A failed open leaves the object usable.
    EXPECT_TRUE(ds.open("BrivaneTest")) << ds.lastError();
}

} // namespace
} // namespace bv

namespace bv {
namespace {

TEST(OdbcConnectionText, BracesValuesThatNeedIt)
{
    EXPECT_EQ(odbcConnectionText("Proto", "", ""), "DSN=Proto");
    EXPECT_EQ(odbcConnectionText("Proto", "op", "a;b}c"), "DSN=Proto;UID=op;PWD={a;b}}c}");
    EXPECT_EQ(odbcConnectionText("", "", ""), "");
}

TEST(OdbcConnectionText, OpensTheRealSourceWithUserAndPassword)
{
    test::SqliteDataSource source;
    OdbcDataSource ds;
    EXPECT_TRUE(ds.open(odbcConnectionText("BrivaneTest", "operator", "pa;ss"))) << ds.lastError();
}

} // namespace
} // namespace bv

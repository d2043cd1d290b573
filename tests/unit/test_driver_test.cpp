// driver_test, the setup dialog's Test button: the message it writes for a
// refused logon, bounded by the buffer the dialog passes.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "fake/fake_server.h"
#include "my_prompt.h"

namespace {

std::unique_ptr<my_prompt> record_for(int port)
{
    auto rec = std::make_unique<my_prompt>();
    memset(rec.get(), 0, sizeof *rec);
    strcpy(rec->SERVER, "127.0.0.1");
    strcpy(rec->UID, "someone");
    strcpy(rec->PWD, "secret");
    rec->PORT = port;
    rec->LogonTimeout = 2000;
    return rec;
}

} // namespace

TEST(driver_test_entry, RefusedConnectionNamesTheReason)
{
    auto rec = record_for(fake::server::refusing_port());
    char message[DRIVER_TEST_MESSAGE_SIZE];
    EXPECT_EQ(driver_test(rec.get(), message), 1);
    EXPECT_EQ(std::string(message).rfind("Failed to connect: '[Quorvane][MySQL Driver][MySQL]", 0), 0u)
        << message;
    EXPECT_EQ(message[strlen(message) - 1], '\'');
}

// A server's error text of any length stays inside the caller's buffer.
TEST(driver_test_entry, LongServerMessageIsCutToTheBuffer)
{
    const std::string long_text(3000, 'E');
    fake::server srv([&](fake::session &s) {
        s.send_packet(0, fake::err_packet(1040, "08004", long_text));
    });
    ASSERT_TRUE(srv.ok());
    auto rec = record_for(srv.port());
    char buf[DRIVER_TEST_MESSAGE_SIZE + 64];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(driver_test(rec.get(), buf), 1);
    EXPECT_EQ(strlen(buf), (size_t)DRIVER_TEST_MESSAGE_SIZE - 1);
    EXPECT_EQ(std::string(buf, 20), "Failed to connect: '");
    for (size_t i = DRIVER_TEST_MESSAGE_SIZE; i < sizeof buf; i++)
        ASSERT_EQ(buf[i], 'x') << i;
}

TEST(driver_test_entry, NullRecord)
{
    char message[DRIVER_TEST_MESSAGE_SIZE];
    EXPECT_EQ(driver_test(nullptr, message), 1);
    EXPECT_STREQ(message, "Failed to connect");
}

#include "MailMessage.h"
#include <gtest/gtest.h>
TEST(MailMessage, Smoke) { MailMessage m; EXPECT_FALSE(m.FillFromRaw("")); }

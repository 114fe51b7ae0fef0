#include "MailMessage.h"
#include <gtest/gtest.h>
TEST(MailMessage, Smoke2) { MailMessage m; EXPECT_FALSE(m.FillFromRaw("")); }

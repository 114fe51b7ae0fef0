#include "MailMessage.h"
#include <gtest/gtest.h>
TEST(MailMessage, Smoke3) { MailMessage m; EXPECT_FALSE(m.FillFromRaw("")); }

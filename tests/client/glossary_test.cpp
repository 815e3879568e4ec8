// The names and explanations the client shows for the agent's codes.
#include <gtest/gtest.h>

#include "core/glossary.hpp"
#include "zep/zep.h"

using lobby::LookUpCode;

TEST(Glossary, DefinedCodesHaveTheirNameAndText) {
  EXPECT_EQ(LookUpCode(10025).displayName, "10025 - ZEP_RET_INVALIDSESSION");
  EXPECT_EQ(LookUpCode(10025).explanation, "Invalid session handle passed to API call.");
  EXPECT_EQ(LookUpCode(10000).displayName, "10000 - ZEP_AS_READY");
  EXPECT_EQ(LookUpCode(10042).displayName, "10042 - ZEP_RET_ALREADYOWNER");
  EXPECT_EQ(LookUpCode(10042).explanation, "No explanation available");
  EXPECT_EQ(LookUpCode(10048).displayName, "10048 - ZEP_RET_ALREADYOPENSESSION");
  EXPECT_EQ(LookUpCode(10012).explanation, "Indicates that a message could not be delivered. ");
  EXPECT_EQ(LookUpCode(10011).explanation, LookUpCode(10010).explanation);
}

TEST(Glossary, EveryNameMatchesTheHeadersValue) {
  // Spot checks across each family: a shifted row would break all of them.
  EXPECT_EQ(LookUpCode(ZEP_SS_NOSRV).displayName, "10005 - ZEP_SS_NOSRV");
  EXPECT_EQ(LookUpCode(ZEP_SG_MEMBER).displayName, "10011 - ZEP_SG_MEMBER");
  EXPECT_EQ(LookUpCode(ZEP_MT_USERMSG).displayName, "10023 - ZEP_MT_USERMSG");
  EXPECT_EQ(LookUpCode(ZEP_RET_NOTINSERVER).displayName, "10035 - ZEP_RET_NOTINSERVER");
  EXPECT_EQ(LookUpCode(ZEP_RET_NOMSG).displayName, "10041 - ZEP_RET_NOMSG");
}

TEST(Glossary, UndefinedCodesIncludingConnectFailed) {
  EXPECT_EQ(LookUpCode(10049).displayName, "10049 - Not a defined code");
  EXPECT_EQ(LookUpCode(10049).explanation, "No explanation given");
  EXPECT_EQ(LookUpCode(9999).displayName, "9999 - Not a defined code");
  EXPECT_EQ(LookUpCode(-1).displayName, "-1 - Not a defined code");
  EXPECT_EQ(LookUpCode(2147483647).explanation, "No explanation given");
}

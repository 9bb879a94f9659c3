// Helpers shared by the message tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "qvextobj.h"
#include "qvnetmsg.h"

namespace qv::netmsg::testing {

// Owns a message object for the length of a test.
struct Msg {
  HQVEXTOBJ h = nullptr;
  ~Msg() { errQVNetMsgDestroy(h); }
};

// The object's text form.
inline std::string Write(HQVEXTOBJ h) {
  size_t length = 0;
  EXPECT_EQ(errQVExtObjExternalSize(h, &length), QV_OK);
  std::string text(length, '\0');
  EXPECT_EQ(NetMsgWriteToBuffer(h, text.data(), &length), QV_OK);
  return text;
}

}  // namespace qv::netmsg::testing

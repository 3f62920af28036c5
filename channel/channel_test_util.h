// Test helpers: a scripted peer for the issuer (scratch directories come from
// config/test_dir.h).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "channel/container.h"
#include "channel/message.h"
#include "channel/unix_socket.h"
#include "config/test_dir.h"

namespace channel_test {

inline void SendMessage(UnixSocket &socket, const Message &msg) {
  Container header;
  header.Init(msg.Header(), Message::kHeaderSize);
  Container payload;
  payload.Init(msg.Payload(), msg.Length());
  ASSERT_EQ(socket.Send(header), Message::kHeaderSize);
  ASSERT_EQ(socket.Send(payload), msg.Length());
}

inline void SendValue(UnixSocket &socket, int kind, int32_t value) {
  Message msg(kind);
  msg.Add(&value, sizeof value);
  SendMessage(socket, msg);
}

inline void SendText(UnixSocket &socket, int kind, const std::string &text) {
  Message msg(kind);
  msg.Add(text.c_str(), static_cast<unsigned>(text.size() + 1));
  SendMessage(socket, msg);
}

// Reads one request as header and payload datagrams.
inline Message ReceiveMessage(UnixSocket &socket) {
  Container header;
  header.Init(Message::kHeaderSize);
  EXPECT_EQ(socket.Recv(header), Message::kHeaderSize);
  _MessageHeader fields;
  std::memcpy(&fields, static_cast<unsigned char *>(header), sizeof fields);
  Container payload;
  payload.Init(fields.length);
  EXPECT_EQ(socket.Recv(payload), fields.length);
  Message msg(fields.kind);
  msg.Add(static_cast<unsigned char *>(payload), static_cast<unsigned>(fields.length));
  return msg;
}

}  // namespace channel_test

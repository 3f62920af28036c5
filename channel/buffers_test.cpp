#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "channel/container.h"
#include "channel/message.h"
#include "channel/message_kinds.h"
#include "channel/shared_membuf.h"

namespace {

// Checks, each time the content is about to go, that SecContainer's Destroy
// zeroed the old bytes while they were still in the buffer's memory.
class WipeProbe : public SecContainer {
 public:
  void Destroy() override {
    const uint8_t *old = bytes.data();
    const size_t len = bytes.size();
    SecContainer::Destroy();
    ++destroyed;
    wiped = wiped && Size() == 0 && std::all_of(old, old + len, [](uint8_t b) { return b == 0; });
  }
  int destroyed = 0;
  bool wiped = true;
};

TEST(Container, EmptyBufferConvertsToNull) {
  Container c;
  EXPECT_EQ(c.Size(), 0);
  EXPECT_EQ(static_cast<void *>(c), nullptr);
  EXPECT_EQ(static_cast<unsigned char *>(c), nullptr);
  c.Init(0);
  EXPECT_EQ(c.Size(), 0);
  EXPECT_EQ(static_cast<void *>(c), nullptr);
}

TEST(Container, InitZeroesOrCopies) {
  Container c;
  c.Init(5);
  ASSERT_EQ(c.Size(), 5);
  const unsigned char *p = c;
  EXPECT_TRUE(std::all_of(p, p + 5, [](unsigned char b) { return b == 0; }));

  const unsigned char src[] = {1, 2, 3};
  c.Init(src, 3);
  ASSERT_EQ(c.Size(), 3);
  EXPECT_EQ(std::memcmp(static_cast<unsigned char *>(c), src, 3), 0);
  EXPECT_THROW(c.Init(-1), std::length_error);
  EXPECT_THROW(c.Init(src, -2), std::length_error);
  EXPECT_EQ(c.Size(), 3);  // a refused Init keeps the content
}

TEST(Container, CopiesAndComparesBytes) {
  const unsigned char src[] = {9, 8, 7, 6};
  Container a;
  a.Init(src, 4);
  Container b(a);
  EXPECT_TRUE(a == b);
  EXPECT_NE(static_cast<void *>(a), static_cast<void *>(b));
  Container c;
  c.Init(src, 3);
  EXPECT_FALSE(a == c);
  c = a;
  EXPECT_TRUE(c == a);
  Container zeros;
  zeros.Init(4);
  EXPECT_FALSE(zeros == a);
}

TEST(SecContainer, ReplacedBytesAreWipedFirst) {
  WipeProbe s;
  const unsigned char secret[] = {0xde, 0xad, 0xbe, 0xef, 0x55};
  s.Init(secret, 5);
  s.Init(64);  // grows: the old bytes must be zero before the reallocation
  s.Init(secret, 5);
  SecContainer other;
  other.Init(secret, 2);
  static_cast<SecContainer &>(s) = other;
  EXPECT_EQ(s.destroyed, 4);
  EXPECT_TRUE(s.wiped);
  EXPECT_EQ(s.Size(), 2);
}

TEST(SecContainer, DestroyEmptiesTheBuffer) {
  SecContainer s;
  s.Init(16);
  s.Destroy();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(static_cast<void *>(s), nullptr);
}

TEST(SharedMembuf, CopiesShareTheArray) {
  shared_membuf a(32);
  std::memset(a.get(), 0x11, a.size());
  shared_membuf b(a);
  shared_membuf c(1);
  c = a;
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(a.get(), c.get());
  EXPECT_EQ(b.size(), 32u);
  b.get()[0] = 0x22;
  EXPECT_EQ(a.get()[0], 0x22);
}

// The daemon reads and writes these numbers as they are: a name must never move.
static_assert(RequestKind::kConnect == 1 && RequestKind::kDisconnect == 2 &&
              RequestKind::kStatistics == 3 && RequestKind::kParameters == 6 &&
              RequestKind::kLog == 7);
static_assert(AnswerKind::kOtherText == -1 && AnswerKind::kEnd == 0 && AnswerKind::kText == 6 &&
              AnswerKind::kValue == 7 && AnswerKind::kState == 8);

TEST(Message, HeaderTracksThePayload) {
  Message m(3);
  EXPECT_EQ(m.Size(), 8);
  EXPECT_EQ(m.Length(), 0);
  EXPECT_EQ(m.Kind(), 3);
  unsigned char record[44];
  for (int i = 0; i < 44; ++i) record[i] = static_cast<unsigned char>(i);
  m.Add(record, 44);
  EXPECT_EQ(m.Size(), 52);
  EXPECT_EQ(m.Length(), 44);
  _MessageHeader h;
  std::memcpy(&h, m.Header(), sizeof h);
  EXPECT_EQ(h.kind, 3);
  EXPECT_EQ(h.length, 44);
  EXPECT_EQ(std::memcmp(m.Payload(), record, 44), 0);
}

TEST(Message, SuccessiveAddsKeepPayloadOrder) {
  Message m(1);
  const int32_t number = 0x01020304;
  m.Add(&number, 4);
  m.Add("ab", 2);
  m.Add(nullptr, 0);
  ASSERT_EQ(m.Length(), 6);
  EXPECT_EQ(m.FirstInt(), number);
  EXPECT_EQ(m.Payload()[4], 'a');
  m.SetKind(2);
  EXPECT_EQ(m.Kind(), 2);
  EXPECT_EQ(m.Length(), 6);

  Message copy(9);
  copy = m;
  EXPECT_EQ(copy.Kind(), 2);
  EXPECT_EQ(std::memcmp(copy.Header(), m.Header(), 14), 0);
}

TEST(Message, ShortOrUnterminatedPayloadsReadSafely) {
  Message m(7);
  EXPECT_FALSE(m.FirstInt());
  m.Add("\x01\x02\x03", 3);
  EXPECT_FALSE(m.FirstInt());

  Message text(6);
  text.Add("abc", 3);  // no NUL
  EXPECT_EQ(text.Text(), "abc");
  Message terminated(6);
  terminated.Add("hi\0rest", 7);
  EXPECT_EQ(terminated.Text(), "hi");
}

}  // namespace

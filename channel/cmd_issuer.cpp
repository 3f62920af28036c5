#include "channel/cmd_issuer.h"

#include <unistd.h>

#include <cstring>
#include <exception>

#include "channel/message_kinds.h"
#include "impex/result_codes.h"

namespace UserInterface {

namespace {

constexpr useconds_t kPollInterval = 100000;

}  // namespace

CmdIssuer::CmdIssuer(IssuerListener *listener, const std::string &local_path,
                     const std::string &daemon_path, SecondsClock clock)
    : socket(local_path, daemon_path), listener(listener), clock(std::move(clock)) {}

// Header and payload go as two datagrams; the payload is not sent after a
// failed header, which the daemon would take for a header.
bool CmdIssuer::Send(const Message &msg) {
  Container header;
  header.Init(msg.Header(), Message::kHeaderSize);
  if (socket.Send(header) != Message::kHeaderSize) return false;
  SecContainer payload;  // a connect request carries the password
  payload.Init(msg.Payload(), msg.Length());
  return socket.Send(payload) == msg.Length();
}

int CmdIssuer::Put(Message &msg) {
  if (listener) listener->ClearCancel();
  if (!Send(msg)) return ResultCode::kSystemError;

  last_activity = clock();
  done = false;
  result = 0;
  pthread_t reader;
  if (pthread_create(&reader, nullptr, thread_func, this) != 0) return ResultCode::kSystemError;

  bool timed_out = false;
  for (;;) {
    usleep(kPollInterval);
    if (done) break;
    if (clock() - last_activity > kIdleTimeout) {
      timed_out = true;
      break;
    }
    if (listener && listener->CancelRequested() && msg.Kind() == RequestKind::kConnect) {
      msg.SetKind(RequestKind::kDisconnect);
      Send(msg);
    }
  }
  // Wakes a reader blocked in recvfrom; unlike pthread_cancel this needs no
  // forced unwinding through the reader's frames.
  socket.StopReceiving();
  pthread_join(reader, nullptr);
  return timed_out ? ResultCode::kTimedOut : result.load();
}

int CmdIssuer::Get(Message &out) {
  Container header;
  header.Init(Message::kHeaderSize);
  if (socket.Recv(header) != Message::kHeaderSize) return -1;
  _MessageHeader fields;
  std::memcpy(&fields, static_cast<const unsigned char *>(header), sizeof fields);
  if (fields.length < 0 || fields.length > Message::kMaxPayload) return -1;

  Container payload;
  payload.Init(fields.length);
  if (socket.Recv(payload) != fields.length) return -1;
  Message msg(fields.kind);
  msg.Add(static_cast<const unsigned char *>(payload), static_cast<unsigned>(fields.length));
  out = msg;
  return fields.length;
}

void CmdIssuer::Proc() {
  for (;;) {
    Message msg(AnswerKind::kEnd);
    const int got = Get(msg);
    if (got < 0 || (msg.Kind() == AnswerKind::kValue && !msg.FirstInt())) {
      result = ResultCode::kSystemError;
      done = true;
      return;
    }
    last_activity = clock();
    if (listener) {
      try {
        listener->CallbackNotify(msg);
      } catch (const std::exception &) {
        result = ResultCode::kHandlerFailed;
        done = true;
        return;
      }
    }
    if (msg.Kind() == AnswerKind::kEnd) {
      done = true;
      return;
    }
    if (msg.Kind() == AnswerKind::kValue) {
      result = *msg.FirstInt();
      done = true;
      return;
    }
  }
}

void *thread_func(void *issuer) {
  static_cast<CmdIssuer *>(issuer)->Proc();
  return nullptr;
}

}  // namespace UserInterface

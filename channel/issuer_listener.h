// What the command issuer needs from whoever sent the request: somewhere to
// hand the daemon's messages, and a way to learn that the user gave up.
#pragma once

class Message;

namespace UserInterface {

class IssuerListener {
 public:
  // Runs on the issuer's reader thread for every message from the daemon.
  virtual void CallbackNotify(Message &msg) = 0;
  // Polled while a request is pending; a connect is then withdrawn.
  virtual bool CancelRequested() const = 0;
  // Called as a request starts, so that an old cancel does not withdraw it.
  virtual void ClearCancel() = 0;

 protected:
  ~IssuerListener() = default;
};

}  // namespace UserInterface

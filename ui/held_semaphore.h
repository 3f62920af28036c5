// Takes the command semaphore for one command and gives it back on every way
// out, also when the process is ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT
// while it holds it: a run stopped at the keyboard or killed by its terminal
// must not block every later command of every user. Nothing helps against
// SIGKILL: the semaphore has no owner to check, so the stand-in daemon only
// reports a semaphore it finds taken when it starts.
#pragma once

#include <semaphore.h>

namespace UserInterface {

class HeldSemaphore {
 public:
  // Tries `attempts` times, a second apart; held() tells whether it got it.
  HeldSemaphore(sem_t *semaphore, int attempts);
  ~HeldSemaphore();  // posts the semaphore if held, then gives the signals back
  HeldSemaphore(const HeldSemaphore &) = delete;
  HeldSemaphore &operator=(const HeldSemaphore &) = delete;

  bool held() const { return held_; }

 private:
  bool held_ = false;
  unsigned caught_ = 0;  // bit per signal number taken over
};

}  // namespace UserInterface

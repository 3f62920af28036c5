#include "ui/held_semaphore.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace UserInterface {
namespace {

constexpr int kReleasingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The semaphore a signal must give back; taken by whoever posts first, the
// handler or the normal release, so it is never posted twice.
std::atomic<sem_t *> held_semaphore{nullptr};

void Release() {
  if (sem_t *semaphore = held_semaphore.exchange(nullptr)) sem_post(semaphore);
}

// Gives the semaphore back, then lets the signal end the process as it would
// have.
void ReleaseAndRedeliver(int signal_number) {
  Release();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

bool EndsTheProcess(int signal_number) {
  struct sigaction current {};
  return sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
         !(current.sa_flags & SA_SIGINFO);
}

}  // namespace

HeldSemaphore::HeldSemaphore(sem_t *semaphore, int attempts) {
  for (int attempt = 1; sem_trywait(semaphore) != 0; ++attempt) {
    sleep(1);
    if (attempt == attempts) return;
  }
  held_ = true;
  held_semaphore = semaphore;
  // Only signals that would end the process: an ignored SIGHUP (nohup) or a
  // program's own handler must not free the semaphore of a running command.
  struct sigaction action {};
  action.sa_handler = ReleaseAndRedeliver;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kReleasingSignals)
    if (EndsTheProcess(signal_number)) {
      sigaction(signal_number, &action, nullptr);
      caught_ |= 1u << signal_number;
    }
}

HeldSemaphore::~HeldSemaphore() {
  if (!held_) return;
  Release();
  for (int signal_number : kReleasingSignals)
    if (caught_ & (1u << signal_number)) signal(signal_number, SIG_DFL);
}

}  // namespace UserInterface

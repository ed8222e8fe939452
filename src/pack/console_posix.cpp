// POSIX: the interrupt signals are blocked in every thread and taken by one
// thread of their own with sigwait, where removing files is allowed.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "pack/console.h"

namespace zrk {

void install_interrupt_cleanup() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals] {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) return;
    remove_registered_paths();
    _exit(130);
  }).detach();
}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace zrk

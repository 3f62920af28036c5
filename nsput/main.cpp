// nsput SOURCE: installs SOURCE as /etc/resolv.conf.
#include <signal.h>

#include <iostream>

#include "nsput/resolv_install.h"

int main(int argc, char **argv) {
  // A file size limit inherited from the caller then fails the write, which
  // is reported, instead of killing the program half way.
  signal(SIGXFSZ, SIG_IGN);
  return Nsput::Run(argc, argv, std::cout, std::cerr);
}

// The command layer as the command-line front end drives it: one command at
// a time, for the calling user or, when root says so, for another.
#pragma once

#include <string>

#include "ui/ui.h"

class FrontEnd : public UserInterface::UI {
 public:
  // Throws std::runtime_error("sem_open") when no daemon made the semaphore.
  FrontEnd() = default;

  // Acts for the named user from now on: 0; ResultCode::kUnknownUser for a
  // name the system does not know; kNeedRoot when a user who is not root
  // names someone else.
  int ActFor(const std::string &name);
  // Verifies entry `number` of the user's certificate store: 0 or more, or
  // the user certificate's result code.
  int VerifyUserCert(int number);

  using UI::SetListingOutput;
};

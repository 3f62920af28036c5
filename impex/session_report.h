// Session states of a statistics answer, printed for people (a table) or
// for programs (JSON).
#pragma once

#include <list>
#include <string>

#include "channel/session_state.h"

// One line per session under a header line; columns are aligned by
// characters, not bytes. A text that says so when there is no session.
std::string SessionTable(const std::list<_session_state> &states);
// {"result": N, "sessions": [{...}, ...]}: every field by its name.
std::string SessionJson(const std::list<_session_state> &states, int result);

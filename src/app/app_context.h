#pragma once
// The program run itself: app/ builds one in each main() and wires the windows, the
// start-up sequence and the platform to it. Everything below app/ sees only the Session
// it is, or the environments it hands out.

#include "service/session.h"

namespace palvoro {

class AppContext : public Session {
 public:
  using Session::Session;
};

}  // namespace palvoro
